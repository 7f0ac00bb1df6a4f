// The opt-in time limits of [Com Timeout], against loopback peers that
// never answer, never read, or trickle one byte every 300 ms.
#include "api/session.h"
#include "message/mesg_state.h"
#include "os_programs.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <regex>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const char kOneSecond[] = "[Com Timeout]\nCONNECT=1\nSEND=1\nRECV=1\n";

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Sends `bytes` one at a time with 300 ms between them.
std::vector<PeerStep> Trickle(const std::string &bytes)
{
    std::vector<PeerStep> steps;
    for (char c : bytes) {
        steps.push_back(Send(std::string(1, c)));
        steps.push_back(Pause(300));
    }
    return steps;
}

// Reads one byte every 300 ms.
std::vector<PeerStep> SlowReader()
{
    std::vector<PeerStep> steps;
    for (int i = 0; i < 5; ++i) {
        steps.push_back(Read(1));
        steps.push_back(Pause(300));
    }
    return steps;
}

struct LimitCase {
    const char *name;
    std::vector<PeerStep> peer;
    std::function<int(int port)> call;
    const char *limitLine;  // the new line, then the existing message
    const char *thenLine;   // a regular expression
};

using TimeLimitTest = ScratchTest;

int RecvOn(int port)
{
    int sock = ::SockConnect("127.0.0.1", port);
    int rc = SockRecvMesg(sock, 0);
    char text[300];
    if (GetLastErrMesg(text, sizeof text) != TRANPAK_ERR_TIME_LIMIT)
        rc = 99;  // the first failure of the call must be the time limit
    ::SockClose(sock);
    return rc;
}

// Sends the worked example on a connection that was first filled until it
// took no more, so the message must wait for the peer to read.
int SendOn(int port)
{
    int sock = ::SockConnect("127.0.0.1", port);
    static const char chunk[1 << 16] = {};
    for (int i = 0; i < 4096 && os::SendNowOnBlocking(sock, chunk, sizeof chunk) > 0; ++i) {
    }
    SetWorkedExample();
    int rc = SockSendMesg(sock, kKey);
    os::SockCloseHandle(sock);
    return rc;
}

TEST_F(TimeLimitTest, APeerThatStallsFailsTheCallWithinTheLimit)
{
    const LimitCase cases[] = {
        {"receive, no answer",
         {Pause(1500)},
         RecvOn,
         "tranpak: recv time limit of 1 s passed",
         "tranpak: read mesg_head rc = 0"},
        {"receive, trickled header",
         Trickle("\x02"
                 "0048"
                 "0"),
         RecvOn, "tranpak: recv time limit of 1 s passed", "tranpak: read mesg_head rc = [3-4]"},
        {"file fetch, trickled frame",
         Trickle("\x06"
                 "20010"),
         [](int port) { return ::SockRecvBinFile("127.0.0.1", port, "req", "fetched.dat"); },
         "tranpak: recv time limit of 1 s passed", "tranpak: recv file_mesg_head rc:[3-4]"},
        {"send, peer never reads",
         {Pause(1500)},
         SendOn,
         "tranpak: send time limit of 1 s passed",
         "tranpak: write socket rc: [0-9]+, iPktLen: 54"},
        {"send, peer reads a byte at a time", SlowReader(), SendOn, "tranpak: send time limit of 1 s passed",
         "tranpak: write socket rc: [0-9]+, iPktLen: 54"},
    };
    for (const LimitCase &c : cases) {
        ASSERT_EQ(InitWith(kExampleDefinitions, false, kOneSecond), 0);
        std::filesystem::remove("errlog.txt");
        ScriptedPeer peer(c.peer);
        auto start = Clock::now();
        EXPECT_EQ(c.call(peer.port()), -1) << c.name;
        EXPECT_LT(SecondsSince(start), 2.0) << c.name;
        auto lines = ErrLog();
        ASSERT_GE(lines.size(), 2u) << c.name << ": " << (lines.empty() ? "" : lines[0]);
        EXPECT_EQ(lines[0], c.limitLine) << c.name;
        EXPECT_TRUE(std::regex_match(lines[1], std::regex(c.thenLine))) << c.name << ": " << lines[1];
        EXPECT_FALSE(std::filesystem::exists("fetched.dat")) << c.name;
    }
}

TEST_F(TimeLimitTest, WithoutLimitsASlowPeerIsWaitedFor)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    const std::string frame =
        "\x02"
        "0020"
        "0810" +
        Unhex("0000000000000001") + std::string(8, '\0') + "\x03";
    ScriptedPeer peer({Pause(1500), Send(frame)});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    auto start = Clock::now();
    EXPECT_EQ(SockRecvMesg(sock, 0), 0) << LastErr();
    EXPECT_GE(SecondsSince(start), 1.3);
    ::SockClose(sock);
}

TEST_F(TimeLimitTest, ValuesOfTheSection)
{
    struct {
        const char *value;
        int seconds;  // -1: Init8583 refuses the value
    } cases[] = {
        {"10", 10},
        {" 7 ", 7},
        {"0", 0},
        {"", 0},
        {"86400", 86400},
        {"86401", 86400},
        {"99999999999999", 86400},
        {"30s", -1},
        {"thirty", -1},
        {"-5", -1},
        {"+5", -1},
        {"1.5", -1},
        {"1 0", -1},
    };
    for (const char *key : {"CONNECT", "SEND", "RECV", "TRANSFER"}) {
        for (const auto &c : cases) {
            std::filesystem::remove("errlog.txt");
            std::string section = std::string("[Com Timeout]\n") + key + "=" + c.value + "\n";
            ASSERT_EQ(InitWith(kExampleDefinitions, false, section), c.seconds < 0 ? -1 : 0) << key << c.value;
            const LibSettings &s = DefaultMesg().settings;
            const int32_t read[] = {s.connectLimit, s.sendLimit, s.recvLimit, s.transferLimit};
            const int want = std::max(c.seconds, 0);
            EXPECT_EQ(read[0] + read[1] + read[2] + read[3], want) << key << "=" << c.value;
            if (c.seconds < 0)
                EXPECT_EQ(ErrLog(), std::vector<std::string>({std::string("tranpak: [Com Timeout] ") + key + "=" +
                                                              c.value + " is not a whole number of seconds"}));
        }
    }
}

// Every file function is bounded from its start to its end when TRANSFER
// is set, however well each frame keeps its own limit.
TEST_F(TimeLimitTest, TransferLimitBoundsAWholeFileTransfer)
{
    std::vector<PeerStep> emptyFrames{Read(9)}, ignoredFrames{Read(9)}, neverEnds{ReadToEnd()};
    for (int i = 0; i < 10; ++i) {
        emptyFrames.insert(emptyFrames.end(), {Send(FileFrame('2', "")), Pause(300)});
        ignoredFrames.insert(ignoredFrames.end(), {Send(FileFrame('7', "x")), Pause(300)});
    }
    const LimitCase cases[] = {
        {"fetch, an empty block every 300 ms", emptyFrames,
         [](int port) { return ::SockRecvBinFile("127.0.0.1", port, "req", "fetched.dat"); },
         "tranpak: transfer time limit of 2 s passed", "tranpak: recv file_mesg_head rc:0"},
        {"text fetch, ignored frames", ignoredFrames,
         [](int port) { return ::SockRecvFile("127.0.0.1", port, "req", "fetched.dat"); },
         "tranpak: transfer time limit of 2 s passed", "tranpak: recv file_mesg_head rc:0"},
        {"send, the host never ends it", neverEnds,
         [](int port) { return ::SockSendBinFile("127.0.0.1", port, "bitmap.txt", "req"); },
         "tranpak: transfer time limit of 2 s passed", "tranpak: recv file_mesg_head rc:0"},
    };
    for (const LimitCase &c : cases) {
        ASSERT_EQ(InitWith(kExampleDefinitions, false, "[Com Timeout]\nTRANSFER=2\n"), 0);
        std::filesystem::remove("errlog.txt");
        WriteFile("fetched.dat", "old");
        ScriptedPeer peer(c.peer);
        auto start = Clock::now();
        EXPECT_EQ(c.call(peer.port()), -1) << c.name;
        EXPECT_LT(SecondsSince(start), 3.0) << c.name;
        auto lines = ErrLog();
        ASSERT_GE(lines.size(), 2u) << c.name;
        EXPECT_EQ(lines[0], c.limitLine) << c.name;
        EXPECT_EQ(lines[1], c.thenLine) << c.name;
        char text[300];
        EXPECT_EQ(GetLastErrMesg(text, sizeof text), TRANPAK_ERR_TIME_LIMIT) << c.name;
        EXPECT_EQ(ReadFile("fetched.dat"), "old") << c.name;
    }
}

// A listener that never accepts and whose backlog is full leaves further
// connections waiting (as Linux does); the connect limit ends the wait.
TEST_F(TimeLimitTest, ConnectLimitEndsAWaitingConnection)
{
    ASSERT_EQ(InitWith(kExampleDefinitions, false, kOneSecond), 0);
    ScriptedPeer listener({}, AcceptNobody(1));
    ASSERT_GT(listener.port(), 0);
    const unsigned char loopback[4] = {127, 0, 0, 1};
    std::vector<int> queued;
    bool waits = false;
    for (int i = 0; i < 16 && !waits; ++i) {
        int s = os::SockOpenTcp();
        waits = os::SockConnectIPv4Within(s, loopback, listener.port(), 300) == os::kTimedOut;
        queued.push_back(s);
    }
    if (waits) {
        auto start = Clock::now();
        EXPECT_EQ(::SockConnect("127.0.0.1", listener.port()), -1);
        EXPECT_LT(SecondsSince(start), 2.0);
        EXPECT_EQ(ErrLog(),
                  std::vector<std::string>({"tranpak: connect time limit of 1 s passed", "tranpak: connect error"}));
        char text[300];
        EXPECT_EQ(GetLastErrMesg(text, sizeof text), TRANPAK_ERR_TIME_LIMIT);
    }
    for (int s : queued)
        os::SockCloseHandle(s);
    if (!waits)
        GTEST_SKIP() << "connections to a full backlog do not wait on this system";
}

}  // namespace
}  // namespace tranpak::test
