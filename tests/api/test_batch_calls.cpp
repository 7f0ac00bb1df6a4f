// The calls that do several in one: TpSockExchange (send, receive and check,
// each way it ends), TpSetCellTexts and TpGetCellTexts (a message as a
// block of field and text pairs).
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>
#include <memory>
#include <string>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

std::string LastError(TpSession *s)
{
    char text[300] = {};
    const int category = TpGetLastErrMesg(s, text, sizeof text);
    return std::to_string(category) + " " + text;
}

std::string Text(TpSession *s, int field)
{
    char out[64] = {};
    return TpGetCellText(s, field, out, sizeof out) == 0 ? std::string(out) : "<refused>";
}

// The frame of a message of the example layout, packed on a session of
// its own.
std::string Frame(TpSession *s, const char *type, const char *stan)
{
    unsigned char frame[2048];
    int len = 0;
    if (TpResetMesg(s) != 0 || TpSetCellText(s, 0, type) != 0 || TpSetCellText(s, 3, stan) != 0 ||
        TpSetCellText(s, 4, "12.50") != 0 || TpPackMesg(s, kKey, frame, sizeof frame, &len) != 0)
        return "";
    return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
}

using BatchCallTest = ScratchTest;

TEST_F(BatchCallTest, OneCallSendsReceivesAndChecksOrSaysWhichStepFailed)
{
    WriteFile("bitmap.txt", kExampleDefinitions);
    TpSettings settings{};
    settings.errFile = "errlog.txt";
    settings.bmpFile = "bitmap.txt";
    settings.recvLimit = 2;
    auto terminal = std::make_unique<TpSession>(), other = std::make_unique<TpSession>();
    ASSERT_EQ(TpInit8583With(terminal.get(), &settings), 0);
    ASSERT_EQ(TpInit8583With(other.get(), &settings), 0);
    const std::string request = Frame(other.get(), "0200", "000042");
    const std::string reply = Frame(other.get(), "0210", "000042");
    ASSERT_FALSE(request.empty());
    ASSERT_FALSE(reply.empty());
    std::string badMac = reply;
    badMac[badMac.size() - 2] ^= 0x01;

    struct Case {
        const char *name;
        std::vector<PeerStep> script;
        int rc;
        std::string error;  // category and text of the record afterwards
        std::string type;   // the session's message type afterwards
    };
    const Case cases[] = {
        {"answered", {Echo(1, reply)}, 0, "0 ", "0210"},
        {"the reply's MAC is wrong", {Echo(1, badMac)}, -1, "7 tranpak: mac check error", "0210"},
        {"closed without a reply", {ReadFrame(), Close()}, -1, "5 tranpak: read mesg_head rc = 0", "0210"},
        {"no reply in time", {ReadFrame(), Pause(3000)}, -1, "4 tranpak: recv time limit of 2 s passed", "0210"},
    };
    for (const Case &c : cases) {
        ScriptedPeer peer(c.script);
        const int sock = TpSockConnect(terminal.get(), "127.0.0.1", peer.port());
        ASSERT_GE(sock, 0) << c.name;
        ASSERT_EQ(TpResetMesg(terminal.get()), 0);
        ASSERT_EQ(TpSetCellText(terminal.get(), 0, "0200"), 0);
        ASSERT_EQ(TpSetCellText(terminal.get(), 3, "000042"), 0);
        ASSERT_EQ(TpSetCellText(terminal.get(), 4, "12.50"), 0);
        EXPECT_EQ(TpSockExchange(terminal.get(), sock, kKey), c.rc) << c.name;
        EXPECT_EQ(LastError(terminal.get()), c.error) << c.name;
        if (c.rc == 0) {
            EXPECT_EQ(Text(terminal.get(), 0), c.type);
            EXPECT_EQ(Text(terminal.get(), 3), "000042");
        }
        TpSockClose(terminal.get(), sock);
        peer.Wait();
        // The request went out as packed, every time.
        EXPECT_EQ(peer.LastFrame(), request) << c.name;
    }

    // A socket that is not one: the send's own failure, nothing received.
    EXPECT_EQ(TpSockExchange(terminal.get(), -1, kKey), -1);
    EXPECT_EQ(LastError(terminal.get()), "5 tranpak: write socket rc: -1, iPktLen: 26");

    // A session never initialised, and none: refused, nothing touched.
    auto never = std::make_unique<TpSession>();
    std::memset(never.get(), 0, sizeof *never);
    EXPECT_EQ(TpSockExchange(never.get(), 0, kKey), -1);
    EXPECT_EQ(TpSockExchange(nullptr, 0, kKey), -1);
}

// A string literal's bytes, its NULs included (not the one C adds).
template <size_t N>
std::string Bytes(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

std::string Block(TpSession *s)
{
    char out[4096];
    int len = -1;
    if (TpGetCellTexts(s, out, sizeof out, &len) != 0)
        return "<refused>";
    return std::string(out, static_cast<size_t>(len));
}

TEST_F(BatchCallTest, AMessageSetAndReadWholeAsPairs)
{
    const std::string block = Bytes(
        "0\0"
        "0200\0"
        "2\0"
        "4761739001010119\0"
        "4\0"
        "12.5\0"
        "48\0"
        "a b\0"
        "64\0"
        "0102030405060708\0"
        "\0");
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    TpSettings settings{};
    settings.errFile = "errlog.txt";
    settings.bmpFile = "bitmap.txt";
    WriteFile("bitmap.txt", kExampleDefinitions);
    auto s = std::make_unique<TpSession>();
    ASSERT_EQ(TpInit8583With(s.get(), &settings), 0);

    // Nothing in use: the ending NUL alone.
    EXPECT_EQ(Block(s.get()), std::string(1, '\0'));
    ASSERT_EQ(TpSetCellTexts(s.get(), block.c_str()), 0);
    // Field order, each text as TpGetCellText gives it (the amount with two
    // decimals, the card number whole), then the ending NUL.
    const std::string expected = Bytes(
        "0\0"
        "0200\0"
        "2\0"
        "4761739001010119\0"
        "4\0"
        "12.50\0"
        "48\0"
        "a b\0"
        "64\0"
        "0102030405060708\0"
        "\0");
    ASSERT_EQ(expected.size(), 62u);
    EXPECT_EQ(Block(s.get()), expected);
    int len = -1;
    EXPECT_EQ(TpGetCellTexts(s.get(), nullptr, 0, &len), 0);  // measures
    EXPECT_EQ(len, static_cast<int>(expected.size()));
    char small[61];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(TpGetCellTexts(s.get(), small, sizeof small, &len), -1);
    EXPECT_EQ(len, 62);
    EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, 'x'));  // nothing written
    EXPECT_EQ(LastError(s.get()), "2 tranpak: TpGetCellTexts() the block needs 62 bytes, size is 61");
    EXPECT_EQ(TpGetCellTexts(s.get(), nullptr, 10, &len), -1);

    // Refusals stop at the pair refused; the pairs before it stay set.
    struct Refusal {
        const char *name;
        std::string block;
        std::string error;
        std::string field3;  // PROCCODE afterwards
    };
    const Refusal refusals[] = {
        {"a value of the wrong type",
         Bytes("3\0"
               "123\0"
               "4\0"
               "12.505\0"
               "3\0"
               "9\0"
               "\0"),
         "2 tranpak: TpSetCellText() field 4: 12.505 has more than 2 decimals", "123"},
        {"a field beyond 128",
         Bytes("3\0"
               "456\0"
               "129\0"
               "x\0"
               "\0"),
         "2 tranpak: TpSetCellTexts() pair 2: \"129\" is not a field 0 to 128", "456"},
        {"a number that is none",
         Bytes("3\0"
               "789\0"
               "4a\0"
               "1\0"
               "\0"),
         "2 tranpak: TpSetCellTexts() pair 2: \"4a\" is not a field 0 to 128", "789"},
        {"no number",
         Bytes("3\0"
               "321\0"
               "\0"
               "\0"),
         "0 ", "321"},
        {"three digits",
         Bytes("004\0"
               "1\0"
               "\0"),
         "2 tranpak: TpSetCellTexts() pair 1: \"004\" is not a field 0 to 128", "321"},
        {"a leading zero, as no field is written",
         Bytes("04\0"
               "1\0"
               "\0"),
         "2 tranpak: TpSetCellTexts() pair 1: \"04\" is not a field 0 to 128", "321"},
        {"the type written with two zeros",
         Bytes("00\0"
               "0200\0"
               "\0"),
         "2 tranpak: TpSetCellTexts() pair 1: \"00\" is not a field 0 to 128", "321"},
    };
    for (const Refusal &r : refusals) {
        const int rc = TpSetCellTexts(s.get(), r.block.c_str());
        EXPECT_EQ(rc, r.error == "0 " ? 0 : -1) << r.name;
        EXPECT_EQ(LastError(s.get()), r.error) << r.name;
        EXPECT_EQ(Text(s.get(), 3), r.field3) << r.name;
    }
    EXPECT_EQ(TpSetCellTexts(s.get(), nullptr), -1);
    EXPECT_EQ(LastError(s.get()), "2 tranpak: TpSetCellTexts() block is NULL");
    EXPECT_EQ(TpSetCellTexts(nullptr, "\0"), -1);
    EXPECT_EQ(TpGetCellTexts(nullptr, small, sizeof small, &len), -1);
}

}  // namespace
}  // namespace tranpak::test
