// What the tools share: the command line and the texts they show.
#include "api/session.h"
#include "tools/common/cli.h"
#include "tools/common/mac_choice.h"
#include "tools/common/message_view.h"
#include "tools/common/shown_text.h"
#include "tools/common/tool_support.h"
#include "tranpak.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

TEST(ToolCommandLine, OptionsValuesAndOperands)
{
    const std::vector<tools::OptionSpec> specs = {{"port", true}, {"json", false}};
    struct {
        std::vector<const char *> args;
        bool ok;
        const char *error_or_items;  // the error, or the items as name=value;...
    } cases[] = {
        {{"--port", "5"}, true, "port=5;"},
        {{"--port=5", "x"}, true, "port=5;=x;"},
        {{"--port=", "--json"}, true, "port=;json=;"},
        {{"--json", "--", "--port"}, true, "json=;=--port;"},
        {{"-"}, true, "=-;"},
        {{"--bogus"}, false, "unknown option --bogus"},
        {{"-p"}, false, "unknown option -p"},
        {{"--json=1"}, false, "option --json takes no value"},
        {{"--port"}, false, "option --port needs a value"},
    };
    for (auto &c : cases) {
        std::vector<char *> argv{const_cast<char *>("tool")};
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        std::vector<tools::CliItem> items;
        std::string error, got;
        const bool ok = tools::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), specs, &items, &error);
        for (const auto &it : items)
            got += it.name + "=" + it.value + ";";
        EXPECT_EQ(ok, c.ok) << c.error_or_items;
        EXPECT_EQ(ok ? got : error, c.error_or_items);
    }
}

TEST(ToolCommandLine, NumbersAreRangeChecked)
{
    struct {
        const char *text;
        long min, max;
        bool ok;
        long value;
    } cases[] = {
        {"0", 0, 65535, true, 0},      {"65535", 0, 65535, true, 65535},
        {"65536", 0, 65535, false, 0}, {"-1", 0, 65535, false, 0},
        {"-1", -5, 5, true, -1},       {"", 0, 9, false, 0},
        {" 1", 0, 9, false, 0},        {"1x", 0, 9, false, 0},
        {"0x1", 0, 9, false, 0},       {"99999999999999999999", 0, 9, false, 0},
    };
    for (auto &c : cases) {
        long v = -99;
        EXPECT_EQ(tools::ParseInteger(c.text, c.min, c.max, &v), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(v, c.value) << c.text;
    }
    std::set<int> fields;
    EXPECT_TRUE(tools::ParseFieldList("41,2,64", &fields));
    EXPECT_EQ(fields, (std::set<int>{2, 41, 64}));
    for (const char *bad : {"", "0", "129", "2,,3", "2, 3", "a", "2,"})
        EXPECT_FALSE(tools::ParseFieldList(bad, &fields)) << bad;
    fields.clear();
    EXPECT_TRUE(tools::ParseFieldList("65,128,100", &fields));
    EXPECT_EQ(fields, (std::set<int>{65, 100, 128}));
}

// Fields of a secondary bitmap: named in FIELD=VALUE, their types read
// from their definitions, and a received one listed where bit 1 stands.
TEST(ToolFields, OneToOneHundredTwentyEight)
{
    int field = -1;
    std::string value;
    EXPECT_TRUE(tools::SplitAssignment("128=0102", &field, &value));
    EXPECT_EQ(field, 128);
    EXPECT_EQ(value, "0102");
    EXPECT_FALSE(tools::SplitAssignment("129=1", &field, &value));

    const std::string defs = testing::TempDir() + "tool_fields_defs.txt";
    std::ofstream(defs) << "PAN N 19,2 2\nTRACK2 Z 37,2 35\nNETCODE N 3 70\nICC B 255,3 110\nMAC B 8 64\n";
    alignas(TpSession) static TpSession s;
    TpSettings settings{};
    settings.bmpFile = defs.c_str();
    ASSERT_EQ(TpInit8583With(&s, &settings), 0);
    EXPECT_EQ(tools::FieldType(&s, 0), CELL_ANS);
    EXPECT_EQ(tools::FieldType(&s, 35), CELL_Z);
    EXPECT_EQ(tools::FieldType(&s, 70), CELL_N);
    EXPECT_EQ(tools::FieldType(&s, 110), CELL_B);
    EXPECT_EQ(tools::FieldType(&s, 129), CELL_ANS);
    // B values may be written in groups, also in a field beyond 64.
    std::string why;
    ASSERT_EQ(tools::SetFieldText(&s, 110, "9F 27:01", &why), 0) << why;
    EXPECT_EQ(tools::FieldText(&s, 110), "9F2701");
    ASSERT_EQ(tools::SetFieldText(&s, 70, "301", &why), 0) << why;
    EXPECT_EQ(tools::FieldText(&s, 70), "301");
    // Nothing received yet: no bitmap, no field received.
    EXPECT_TRUE(tools::ReceivedFields(&s).empty());
    EXPECT_FALSE(tools::Received(&s, 70));
    // A message with bits 1 and 2 set: field 2 and those of the secondary
    // bitmap that hold a value, in order, never field 1.
    ASSERT_EQ(tools::SetFieldText(&s, 2, "4761739001010119", &why), 0) << why;
    reinterpret_cast<Session *>(&s)->mesg.packet.bitmap[0] = 0xC0;
    EXPECT_EQ(tools::ReceivedFields(&s), (std::vector<int>{2, 70, 110}));
    EXPECT_TRUE(tools::Received(&s, 70));
    EXPECT_FALSE(tools::Received(&s, 1));
    EXPECT_FALSE(tools::Received(&s, 35));
    // Without bit 1, the fields beyond 64 were not received.
    reinterpret_cast<Session *>(&s)->mesg.packet.bitmap[0] = 0x40;
    EXPECT_EQ(tools::ReceivedFields(&s), (std::vector<int>{2}));
    EXPECT_FALSE(tools::Received(&s, 70));
}

TEST(ToolShownText, EscapedAndJson)
{
    EXPECT_EQ(tools::Escaped(std::string("a\x1b[2J\n\\\x7f\xff", 9)), "a\\x1B[2J\\x0A\\\\\\x7F\\xFF");
    EXPECT_EQ(tools::JsonString(std::string("q\"\\\x01\xe9", 5)), "\"q\\\"\\\\\\u0001\\u00E9\"");
}

// The MAC a tool takes from a settings file's [MAC] and its options: the
// coverage and key length go with the file's algorithm.
TEST(ToolMacChoice, CoverageAndKeyLengthOfTheSettingsFile)
{
    const std::string file = testing::TempDir() + "tool_mac_choice.ini";
    const struct {
        const char *section;
        bool ok;
        const char *result;  // algorithm covers settingsKeyLen, or the error
    } cases[] = {
        {"", true, "LEGACY 2 0"},
        {"[MAC]\nALGORITHM=AES-CMAC\n", true, "AES-CMAC 1 0"},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG3\nKEYLEN=024\nCOVERS=data\n", true, "ISO9797-1-ALG3 2 24"},
        {"[MAC]\nALGORITHM=TDES-CMAC\nCOVERS=Message\n", true, "TDES-CMAC 1 0"},
        {"[MAC]\nALGORITHM=TDES-CMAC\nCOVERS=all\n", false, "[MAC] COVERS=all of FILE is not MESSAGE or DATA"},
        {"[MAC]\nALGORITHM=TDES-CMAC\nKEYLEN=16 bytes\n", false, "[MAC] KEYLEN=16 bytes of FILE is no key length"},
    };
    for (const auto &c : cases) {
        std::ofstream(file) << c.section;
        tools::MacChoice mac;
        std::string error;
        ASSERT_EQ(tools::MacFromSettings(file, &mac, &error), c.ok) << c.section << error;
        std::string result = c.ok ? std::string(tools::MacName(mac.algorithm)) + " " +
                                        std::to_string(tools::MacCovers(mac)) + " " + std::to_string(mac.settingsKeyLen)
                                  : error;
        if (const size_t at = result.find(file); at != std::string::npos)
            result.replace(at, file.size(), "FILE");
        EXPECT_EQ(result, c.result) << c.section;
    }
    std::remove(file.c_str());
}

TEST(ToolMacChoice, KeyFaultsNameWhatDoesNotFit)
{
    std::string error;
    tools::MacChoice mac;
    ASSERT_TRUE(tools::ParseMacKey("0123456789ABCDEFFEDCBA9876543210", &mac, &error));
    ASSERT_TRUE(tools::ParseMacAlgorithm("iso9797-1-alg3", &mac, &error));
    EXPECT_EQ(tools::MacKeyFault(mac), "");
    mac.settingsKeyLen = 24;
    EXPECT_EQ(tools::MacKeyFault(mac), "--key has 16 bytes (32 hex digits), the settings file's [MAC] KEYLEN is 24");
    mac.settingsKeyLen = 0;
    EXPECT_FALSE(tools::ParseMacCovers("both", &mac, &error));
    EXPECT_EQ(error, "--mac-covers takes message or data, not both");
    ASSERT_TRUE(tools::ParseMacCovers("DATA", &mac, &error));
    EXPECT_EQ(tools::MacCovers(mac), TP_MAC_COVERS_DATA);

    tools::MacChoice legacy;
    ASSERT_TRUE(tools::ParseMacKey("0123456789ABCDEF", &legacy, &error));
    EXPECT_EQ(tools::MacCovers(legacy), TP_MAC_COVERS_DATA);
    ASSERT_TRUE(tools::ParseMacCovers("message", &legacy, &error));
    EXPECT_EQ(tools::MacKeyFault(legacy), "LEGACY covers the data area only, not the message (--mac-covers data)");
}

}  // namespace
}  // namespace tranpak::test
