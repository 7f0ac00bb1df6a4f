// The tools' commands that need no host, run as programs: the client's
// --pack-only frame against the library's own TpPackMesg, the decoder's
// --frame on it and on a known frame, and the one JSON shape of a message.
#include "support/run_command.h"
#include "tools/common/tool_support.h"
#include "tranpak.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <vector>

namespace tranpak::test {
namespace {

const std::string kClient = TRANPAK_CLIENT_PROGRAM;
const std::string kTrace = TRANPAK_TRACE_PROGRAM;
const std::string kDefinitions = TRANPAK_EXAMPLE_DEFINITIONS;
constexpr char kKey[] = "0123456789ABCDEF";

// Runs a command line through the shell, its errors dropped.
Ran RunCommand(const std::string &command) { return RunShell(command + " 2>/dev/null"); }

std::string Quoted(const std::string &arg) { return "'" + arg + "'"; }

using Fields = std::vector<std::pair<int, std::string>>;

// The frame the library packs for these fields under kKey, in hex.
std::string LibraryFrame(const Fields &fields)
{
    TpSession s{};
    TpSettings settings{};
    settings.bmpFile = kDefinitions.c_str();
    settings.errFile = "";
    EXPECT_EQ(TpInit8583With(&s, &settings), 0);
    for (const auto &[field, text] : fields)
        EXPECT_EQ(TpSetCellText(&s, field, text.c_str()), 0) << field << "=" << text;
    unsigned char key[8];
    EXPECT_TRUE(tools::ParseKey(kKey, key));
    unsigned char frame[10005];
    int length = 0;
    EXPECT_EQ(TpPackMesg(&s, key, frame, sizeof frame, &length), 0);
    TpWipe(&s);
    return tools::ToHex(frame, static_cast<size_t>(length)) + "\n";
}

struct PackCase {
    const char *name;
    std::vector<std::string> args;  // the client's operands
    Fields fields;                  // the same, as the library takes them
};

TEST(PackOnly, PrintsTheFrameTpPackMesgPacksAndTheDecoderVerifiesIt)
{
    const PackCase cases[] = {
        {"a purchase",
         {"0200", "2=4761739001010119", "3=000000", "4=12.50", "11=000001", "41=TERM0001"},
         {{0, "0200"}, {2, "4761739001010119"}, {3, "000000"}, {4, "12.50"}, {11, "000001"}, {41, "TERM0001"}}},
        {"a PIN block in groups, text with a blank",
         {"0200", "2=5500000000000004", "4=0.07", "48=two words", "52=01:23:45:67:89:ab:cd:ef"},
         {{0, "0200"}, {2, "5500000000000004"}, {4, "0.07"}, {48, "two words"}, {52, "0123456789abcdef"}}},
        {"a network message", {"0800", "11=999999", "41=T2"}, {{0, "0800"}, {11, "999999"}, {41, "T2"}}},
    };
    for (const PackCase &c : cases) {
        std::string command = kClient + " --pack-only --defs " + Quoted(kDefinitions) + " --key " + kKey;
        for (const std::string &arg : c.args)
            command += " " + Quoted(arg);
        const Ran packed = RunCommand(command);
        EXPECT_EQ(packed.status, 0) << c.name;
        EXPECT_EQ(packed.out, LibraryFrame(c.fields)) << c.name;
        const std::string hex = packed.out.substr(0, packed.out.find('\n'));
        const Ran described =
            RunCommand(kTrace + " --defs " + Quoted(kDefinitions) + " --key " + kKey + " --frame " + hex);
        EXPECT_EQ(described.status, 0) << c.name << "\n" << described.out;
        EXPECT_NE(described.out.find("MAC: verified with the given key\n"), std::string::npos) << c.name << "\n"
                                                                                               << described.out;
    }
}

TEST(PackOnly, RefusesWhatItCannotPack)
{
    const std::string base = kClient + " --pack-only --defs " + Quoted(kDefinitions);
    const struct {
        const char *name;
        std::string command;
        int status;
    } cases[] = {
        {"no key", base + " 0200 2=4761739001010119", 2},
        {"a file transfer", base + " --key " + kKey + " send-file a b", 2},
        {"a load", base + " --key " + kKey + " --count 5 0800", 2},
        {"no message type", base + " --key " + kKey, 2},
        {"a value its field refuses", base + " --key " + kKey + " 0200 3=12x", 1},
    };
    for (const auto &c : cases) {
        const Ran r = RunCommand(c.command);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
    }
}

// A purchase packed under kKey: 2, 3, 4, 11, 41 and the MAC.
constexpr char kPurchaseFrame[] =
    "02303037303032303070200000008000013136343736313733393030313031303131393030303030303030303030303030313235303030"
    "303030315445524D303030317D77BACE6C11AD1303";

TEST(FrameOption, DescribesAKnownFrameExactly)
{
    const Ran r =
        RunCommand(kTrace + " --defs " + Quoted(kDefinitions) + " --key " + kKey + " --frame " + kPurchaseFrame);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "framing: start 0x02 ok, length digits \"0070\" match the 70 bytes that follow, stop 0x03 ok\n"
              "message type: 0200\n"
              "bitmap: 70 20 00 00 00 80 00 01 -> fields 2 3 4 11 41 64\n"
              "  field  name         type prefix value\n"
              "      2  PAN          N    16     ************0119\n"
              "      3  PROCCODE     N           000000\n"
              "      4  AMOUNT       NF          000000001250\n"
              "     11  STAN         N           000001\n"
              "     41  TERMID       ANS         TERM0001\n"
              "     64  MAC          B           7D77BACE6C11AD13\n"
              "MAC: verified with the given key\n");
    // The same frame in groups, as a trace dump shows it; and a wrong key.
    std::string grouped;
    for (size_t i = 0; kPurchaseFrame[i] != '\0'; i += 2)
        grouped += std::string(i ? " " : "") + kPurchaseFrame[i] + kPurchaseFrame[i + 1];
    EXPECT_EQ(
        RunCommand(kTrace + " --defs " + Quoted(kDefinitions) + " --key " + kKey + " --frame " + Quoted(grouped)).out,
        r.out);
    const Ran other =
        RunCommand(kTrace + " --defs " + Quoted(kDefinitions) + " --key 1111111111111111 --frame " + kPurchaseFrame);
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.out.find("MAC: does NOT verify with the given key\n"), std::string::npos) << other.out;
    EXPECT_EQ(RunCommand(kTrace + " --defs " + Quoted(kDefinitions) + " --frame 02zz").status, 2);
}

// The message as TpDescribe gives it for a frame, in JSON.
std::string DescribedJson(const std::string &hex)
{
    TpSession s{};
    TpSettings settings{};
    settings.bmpFile = kDefinitions.c_str();
    settings.errFile = "";
    EXPECT_EQ(TpInit8583With(&s, &settings), 0);
    std::string frame;
    EXPECT_TRUE(tools::ParseHex(hex, &frame));
    EXPECT_EQ(TpUnpackMesg(&s, reinterpret_cast<const unsigned char *>(frame.data()), static_cast<int>(frame.size())),
              0);
    char out[4096];
    EXPECT_EQ(TpDescribe(&s, TP_DESCRIBE_JSON, out, sizeof out, nullptr), 0);
    TpWipe(&s);
    return out;
}

TEST(FrameOption, JsonHasTheShapeOfTpDescribeThenTheFramesOwnKeys)
{
    // Fields whose text on the wire is the text TpGetCellText gives: the
    // message part is TpDescribe's, byte for byte.
    std::string hex = RunCommand(kClient + " --pack-only --defs " + Quoted(kDefinitions) + " --key " + kKey +
                                 " 0800 2=4761739001010119 11=000042 41=TERM0001 48=" + Quoted("a \"quoted\" \\ text"))
                          .out;
    ASSERT_EQ(hex.size(), 2 * 78 + 1u);
    hex.pop_back();
    const std::string message = DescribedJson(hex);
    ASSERT_EQ(message.back(), '}');
    const Ran r = RunCommand(kTrace + " --defs " + Quoted(kDefinitions) + " --json --frame " + hex);
    EXPECT_EQ(r.status, 0);
    const std::string head = message.substr(0, message.size() - 1) + ", ";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r.out;
    EXPECT_EQ(r.out.substr(head.size()),
              "\"time\": \"\", \"direction\": \"\", \"bytes\": 78, \"ok\": true, \"complete\": true, "
              "\"framing\": {\"start\": \"0x02\", \"start_ok\": true, \"length_digits\": \"0072\", \"length_ok\": "
              "true, \"stop\": \"0x03\", \"stop_ok\": true}, \"bitmap\": \"40 20 00 00 00 "
              "81 00 01\", \"length_prefixes\": {\"2\": \"16\", \"48\": \"017\"}, \"trailing_bytes\": 0, "
              "\"mac\": \"not checked\"}\n");
    const std::string start =
        "{\"type\": \"0800\", \"fields\": {\"2\": {\"name\": \"PAN\", \"type\": \"N\", \"value\": "
        "\"************0119\"}, ";
    EXPECT_EQ(message.substr(0, start.size()), start);
}

}  // namespace
}  // namespace tranpak::test
