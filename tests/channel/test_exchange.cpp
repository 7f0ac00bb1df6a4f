// Connections and message exchange against scripted peers on loopback.
#include "api/session.h"
#include "message/mesg_state.h"
#include "channel/net.h"
#include "crypto/des.h"
#include "codec/mac.h"
#include "crypto/fold.h"
#include "os_programs.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>
#include <regex>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const unsigned char kOtherKey[8] = {1, 2, 3, 4, 5, 6, 7, 8};

std::string MacOf(const std::string &covered, const unsigned char key[8])
{
    unsigned char acc[8], mac[8];
    FoldMac(reinterpret_cast<const unsigned char *>(covered.data()), static_cast<int>(covered.size()), acc);
    DesBlock(acc, mac, key);
    return std::string(reinterpret_cast<char *>(mac), 8);
}

// A frame of the example definitions: fields 2, 3, 4 and 64.
std::string ExampleFrame(const std::string &txcode, const unsigned char key[8])
{
    const std::string covered =
        "0812345678"
        "000123"
        "000000001000";
    std::string data = covered + MacOf(covered, key);
    char len[8];
    std::snprintf(len, sizeof len, "%04d", static_cast<int>(data.size()) + 12);
    return "\x02" + std::string(len) + txcode + Unhex("7000000000000001") + data + "\x03";
}

// The smallest frame: only field 64.
std::string MacOnlyFrame(const unsigned char key[8])
{
    return "\x02"
           "0020"
           "0810" +
           Unhex("0000000000000001") + MacOf("", key) + "\x03";
}

class ExchangeTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions, true), 0);
    }
    static std::string Field(int n)
    {
        char out[kCellBufSize + 1] = {};
        return GetCell(n, out) == 0 ? std::string(out) : "<unused>";
    }
    // Trace blocks as (label, count, dump lines).
    struct Block {
        std::string label;
        int count;
        std::string dump;
    };
    static std::vector<Block> TraceBlocks()
    {
        std::vector<Block> blocks;
        std::string text = ReadTextFile("ctrace.txt");
        std::regex header(R"(\n\{\d\d-\d\d \d\d:\d\d:\d\d ([a-z ]+)\} \[len = (\d+)\]\n)");
        auto it = std::sregex_iterator(text.begin(), text.end(), header);
        for (; it != std::sregex_iterator(); ++it) {
            size_t start = static_cast<size_t>(it->position() + it->length());
            size_t end = text.find("\n\n", start);
            blocks.push_back({(*it)[1], std::stoi((*it)[2]), text.substr(start, end + 1 - start)});
        }
        return blocks;
    }
};

TEST_F(ExchangeTest, FullTransaction)
{
    const std::string request = ExampleFrame("0200", kKey);
    const std::string reply = ExampleFrame("0210", kKey);
    ScriptedPeer peer({Read(54), Send(reply), ReadToEnd()});

    SetWorkedExample();
    int sock = ::SockConnect("127.0.0.1", peer.port());
    ASSERT_GE(sock, 0) << LastErr();
    ASSERT_EQ(SockSendMesg(sock, kKey), 0) << LastErr();
    ASSERT_EQ(SockRecvMesg(sock, 0), 0) << LastErr();
    EXPECT_EQ(::CheckMesgMac(kKey), 0) << LastErr();
    EXPECT_EQ(Field(0), "0210");
    EXPECT_EQ(Field(2), "12345678");
    EXPECT_EQ(Field(3), "000123");
    double amount = 0;
    GetCell(4, &amount);
    EXPECT_EQ(amount, 10.0);
    EXPECT_EQ(::SockClose(sock), 0);

    EXPECT_EQ(Hex(peer.Received().data(), peer.Received().size()), Hex(request.data(), request.size()));
    auto blocks = TraceBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].label, "send mesg body");
    EXPECT_EQ(blocks[0].count, 54);
    EXPECT_EQ(blocks[0].dump.substr(0, 75),
              "0000 : 02-30-30-34 38-30-32-30 30-70-00-00 00-00-00-00 || .00480200p......\n");
    EXPECT_EQ(blocks[1].label, "recv mesg head");
    EXPECT_EQ(blocks[1].count, 5);
    EXPECT_EQ(blocks[1].dump,
              "0000 : 02-30-30-34 38" + std::string(33, ' ') + " || .0048" + std::string(11, ' ') + "\n");
    EXPECT_EQ(blocks[2].label, "recv mesg data");
    EXPECT_EQ(blocks[2].count, 49);
    EXPECT_TRUE(ErrLog().empty());
}

TEST_F(ExchangeTest, DottedAddressTest)
{
    struct {
        const char *host;
        int dotted;
    } cases[] = {
        {"192.168.0.1", 1},
        {"0.0.0.0", 1},
        {"255.255.255.255", 1},
        {"1..2.3", 1},
        {"+1.2.3.4", 1},
        {"256.1.1.1", 0},
        {"1.2.3", 0},
        {"1.2.3.4.5", 0},
        {"a.b.c.d", 0},
        {"localhost", 0},
        {"1.2.3.-1", 0},
        {"", 0},
        {"001.002.003.004.........................", 0},
    };
    for (auto &c : cases)
        EXPECT_EQ(IsDottedQuad(c.host), c.dotted) << c.host;
}

TEST_F(ExchangeTest, HostTextsThatCannotBeUsed)
{
    EXPECT_EQ(::SockConnect("1..2.3", 80), -1);
    EXPECT_EQ(LastErr(), "tranpak: get host 1..2.3 by addr error");
    EXPECT_EQ(::SockConnect(std::string(32, 'h').c_str(), 80), -1);
    EXPECT_EQ(LastErr(), "tranpak: SockConnect() host text has over 31 characters");
    EXPECT_EQ(::SockConnect(nullptr, 80), -1);
    EXPECT_EQ(LastErr(), "tranpak: SockConnect() host is NULL");
}

TEST_F(ExchangeTest, DottedAddressIsConnectedToWithoutLookup)
{
    // Nothing listens there: the attempt is made and refused.
    EXPECT_EQ(::SockConnect("127.0.0.1", ClosedPort()), -1);
    EXPECT_EQ(LastErr(), "tranpak: connect error");
}

TEST_F(ExchangeTest, NamesAndPortsAboveSixteenBits)
{
    ScriptedPeer byName({ReadToEnd()});
    int sock = ::SockConnect("localhost", byName.port());
    ASSERT_GE(sock, 0) << LastErr();
    ::SockClose(sock);
    ScriptedPeer wrapped({ReadToEnd()});
    sock = ::SockConnect("127.0.0.1", 65536 + wrapped.port());
    ASSERT_GE(sock, 0) << LastErr();
    ::SockClose(sock);
}

// What a peer sends, and how SockRecvMesg ends.
struct RecvCase {
    const char *name;
    std::string bytes;
    int rc;
    const char *message;
};

TEST_F(ExchangeTest, ReceivedFramesAreCheckedStepByStep)
{
    const std::string good = ExampleFrame("0210", kKey);
    const RecvCase cases[] = {
        {"short header",
         "\x02"
         "00",
         -1, "tranpak: read mesg_head rc = 3"},
        {"nothing at all", "", -1, "tranpak: read mesg_head rc = 0"},
        {"start byte 0x82", "\x82" + good.substr(1), -1, "tranpak: Packet.start = 0x82"},
        {"length 12a4",
         "\x02"
         "12a4",
         -1, "tranpak: Packet.len not number, buf:12a4"},
        {"length with a blank",
         "\x02"
         " 100",
         -1, "tranpak: Packet.len not number, buf: 100"},
        {"length -001",
         "\x02"
         "-001",
         -1, "tranpak: Packet.len = -1, too short"},
        {"length 0019",
         "\x02"
         "0019" +
             std::string(20, '0'),
         -1, "tranpak: Packet.len = 19, too short"},
        {"length 9999",
         "\x02"
         "9999" +
             std::string(100, '0'),
         -1, "tranpak: Packet.len = 9999, too long"},
        {"length 2048",
         "\x02"
         "2048" +
             std::string(100, '0'),
         -1, "tranpak: Packet.len = 2048, too long"},
        {"closed mid-body", good.substr(0, 15), -1, "tranpak: read mesg buf rc = 10"},
        {"stop byte 0x04", good.substr(0, 53) + "\x04", -1, "tranpak: Packet.stop = 0x04"},
        {"length 0020", MacOnlyFrame(kKey), 0, ""},
        {"bytes that never end", good + std::string(3000, 'x'), 0, ""},
    };
    for (const RecvCase &c : cases) {
        std::filesystem::remove("errlog.txt");
        ScriptedPeer peer({Send(c.bytes), Close()});
        int sock = ::SockConnect("127.0.0.1", peer.port());
        ASSERT_GE(sock, 0);
        SetCell(2, "99");  // must not survive any receive
        EXPECT_EQ(SockRecvMesg(sock, 12345), c.rc) << c.name;
        EXPECT_EQ(LastErr(), c.message) << c.name;
        if (c.rc != 0)
            EXPECT_EQ(DefaultMesg().cells[1].used, 0) << c.name;
        ::SockClose(sock);
    }
}

TEST_F(ExchangeTest, PartialHeaderIsTraced)
{
    ScriptedPeer peer({Send("\x02"
                            "00"),
                       Close()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    EXPECT_EQ(SockRecvMesg(sock, 0), -1);
    ::SockClose(sock);
    auto blocks = TraceBlocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].label, "recv mesg head");
    EXPECT_EQ(blocks[0].count, 3);
}

TEST_F(ExchangeTest, FailedReceiveKeepsWhatItStored)
{
    ScriptedPeer peer({Send("\x02"
                            "0048"
                            "0210" +
                            std::string(44, '0') + "\x07"),
                       Close()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    EXPECT_EQ(SockRecvMesg(sock, 0), -1);
    ::SockClose(sock);
    EXPECT_EQ(DefaultMesg().packet.start, 0x02);
    EXPECT_EQ(DefaultMesg().packet.len, 48);
    EXPECT_EQ(DefaultMesg().packet.stop, 0x07);
}

TEST_F(ExchangeTest, TwoPacketsBackToBack)
{
    ScriptedPeer peer({Send(ExampleFrame("0210", kKey) + MacOnlyFrame(kKey)), ReadToEnd()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    ASSERT_EQ(SockRecvMesg(sock, 0), 0) << LastErr();
    EXPECT_EQ(Field(0), "0210");
    EXPECT_EQ(Field(2), "12345678");
    ASSERT_EQ(SockRecvMesg(sock, 0), 0) << LastErr();
    EXPECT_EQ(Field(0), "0810");
    EXPECT_EQ(Field(2), "<unused>");
    EXPECT_EQ(::CheckMesgMac(kKey), 0);
    ::SockClose(sock);
}

// Requests sent one after another without waiting reach an echoing host
// together; each is answered on its own, in order: by itself, then by the
// given reply; an echo until the close ends with the client's close.
TEST_F(ExchangeTest, AnEchoAnswersEachPacketOnItsOwn)
{
    const std::string request = ExampleFrame("0200", kKey);
    ScriptedPeer echo({Echo(2), Echo(1, MacOnlyFrame(kKey))});
    SetWorkedExample();
    int sock = ::SockConnect("127.0.0.1", echo.port());
    ASSERT_GE(sock, 0) << LastErr();
    for (int k = 0; k < 3; ++k)
        ASSERT_EQ(SockSendMesg(sock, kKey), 0) << LastErr();
    for (const char *type : {"0200", "0200", "0810"}) {
        ASSERT_EQ(SockRecvMesg(sock, 0), 0) << type << ": " << LastErr();
        EXPECT_EQ(Field(0), type);
    }
    ::SockClose(sock);
    EXPECT_TRUE(echo.Played());
    EXPECT_EQ(echo.LastFrame(), request);
    EXPECT_EQ(echo.Received(), "");

    ScriptedPeer untilClosed({Echo()});
    sock = ::SockConnect("127.0.0.1", untilClosed.port());
    for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(SockSendMesg(sock, kKey), 0) << LastErr();
        ASSERT_EQ(SockRecvMesg(sock, 0), 0) << LastErr();
    }
    ::SockClose(sock);
    EXPECT_TRUE(untilClosed.Played());
}

TEST_F(ExchangeTest, WrongMacIsReceivedButRefusedByTheCheck)
{
    ScriptedPeer peer({Send(ExampleFrame("0210", kOtherKey)), ReadToEnd()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    EXPECT_EQ(SockRecvMesg(sock, 0), 0);
    EXPECT_EQ(::CheckMesgMac(kKey), -1);
    EXPECT_EQ(LastErr(), "tranpak: mac check error");
    ::SockClose(sock);
}

TEST_F(ExchangeTest, OversizedMessageSendsNothing)
{
    ASSERT_EQ(InitWith(std::string(kExampleDefinitions) + "A ANS 399 10\nB ANS 399 11\nC ANS 399 12\n"
                                                          "D ANS 399 13\nE ANS 399 14\nF ANS 30 15\n",
                       true),
              0);
    ResetMesg();
    for (int f = 10; f <= 15; ++f)
        SetCell(f, "x");
    ScriptedPeer peer({ReadToEnd()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    EXPECT_EQ(SockSendMesg(sock, kKey), -1);
    EXPECT_EQ(LastErr(), "tranpak: received packet too long, len = 2051");
    ::SockClose(sock);
    EXPECT_EQ(peer.Received(), "");
}

TEST_F(ExchangeTest, SendingToAPeerThatHasGoneFailsWithoutKillingTheProcess)
{
    ScriptedPeer peer({Close()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    peer.Received();
    SetWorkedExample();
    int rc = 0;
    for (int attempt = 0; attempt < 100 && rc == 0; ++attempt) {
        rc = SockSendMesg(sock, kKey);
        os::SleepMillis(10);
    }
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(LastErr(), "tranpak: write socket rc: -1, iPktLen: 54");
    ::SockClose(sock);
}

TEST_F(ExchangeTest, ClosingABadHandleIsReported)
{
    EXPECT_EQ(::SockClose(-1), -1);
    EXPECT_EQ(LastErr(), "tranpak: close sockfd error");
}

TEST_F(ExchangeTest, NullKeyIsRefused)
{
    EXPECT_EQ(SockSendMesg(-1, nullptr), -1);
    EXPECT_EQ(LastErr(), "tranpak: SockSendMesg() key is NULL");
}

}  // namespace
}  // namespace tranpak::test
