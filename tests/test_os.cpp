// The OS layer that the library and its programs share: the socket calls
// that do not wait and their one "not now", a connection attempt that
// names its refusal, the start-up of either version.
#include "os_programs.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tranpak::test {
namespace {

// A connected pair on loopback: client as the library makes one
// (blocking), peer as a server accepts it.
struct Pair {
    int client = os::kNoSocket, peer = os::kNoSocket;
    ~Pair()
    {
        os::SockCloseHandle(client);
        os::SockCloseHandle(peer);
    }
};

void Connect(Pair *p)
{
    const int listener = os::SockListen("127.0.0.1", 0);
    ASSERT_GE(listener, 0);
    const unsigned char loopback[4] = {127, 0, 0, 1};
    p->client = os::SockOpenTcp();
    ASSERT_EQ(os::SockConnectIPv4(p->client, loopback, os::SockLocalPort(listener)), 0);
    p->peer = os::SockAccept(listener);
    os::SockCloseHandle(listener);
    ASSERT_GE(p->peer, 0);
}

class OsLayer : public ::testing::Test {
protected:
    // The programs' version; the library's own start-up asks for 1.1.
    void SetUp() override { ASSERT_EQ(os::SockStartup(2, 2), 0); }
};

TEST_F(OsLayer, StartUpTakesEitherVersionAskedFor)
{
    EXPECT_EQ(os::SockStartup(1, 1), 0);
    EXPECT_EQ(os::SockStartup(2, 2), 0);
}

// Nothing to receive, and a send buffer that is full, both answer kNotNow,
// never 0 (which is the peer's close) nor -1 (an error); bytes that have
// come are received by one call.
TEST_F(OsLayer, CallsThatDoNotWaitSayNotNow)
{
    Pair p;
    Connect(&p);
    ASSERT_EQ(os::SetNonBlocking(p.peer), 0);
    char in[16];
    EXPECT_EQ(os::RecvNow(p.peer, in, sizeof in), os::kNotNow);

    // The client stays blocking: its sends that may not wait fill it.
    static const char chunk[4096] = {};
    int last = 0;
    for (int i = 0; i < 100000 && (last = os::SendNowOnBlocking(p.client, chunk, sizeof chunk)) > 0; ++i) {
    }
    EXPECT_EQ(last, os::kNotNow);
    // The peer, switched, says the same once its side is full too.
    for (int i = 0; i < 100000 && (last = os::SendNow(p.peer, chunk, sizeof chunk)) > 0; ++i) {
    }
    EXPECT_EQ(last, os::kNotNow);

    // Bytes that have come are taken by one call.
    Pair q;
    Connect(&q);
    ASSERT_EQ(os::SockSendSome(q.client, "hello", 5), 5);
    ASSERT_EQ(os::WaitSocket(q.peer, false, 10000), 1);
    ASSERT_EQ(os::SetNonBlocking(q.peer), 0);
    EXPECT_EQ(os::RecvNow(q.peer, in, sizeof in), 5);
    EXPECT_EQ(std::string(in, 5), "hello");
}

// A send that does not wait leaves a blocking socket blocking: a receive
// with a time limit then waits that limit out instead of failing at once.
TEST_F(OsLayer, SendNowOnBlockingLeavesTheSocketBlocking)
{
    Pair p;
    Connect(&p);
    ASSERT_EQ(os::SendNowOnBlocking(p.client, "x", 1), 1);
    ASSERT_EQ(os::SockSetRecvTimeout(p.client, 400), 0);
    char in[1];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(os::SockRecvSome(p.client, in, 1), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

// A refused connection names its reason; one that is taken names none.
TEST_F(OsLayer, ConnectionAttemptsNameTheirRefusal)
{
    const int listener = os::SockListen("127.0.0.1", 0);
    ASSERT_GE(listener, 0);
    const int port = os::SockLocalPort(listener);
    const unsigned char loopback[4] = {127, 0, 0, 1};
    int error = -1;
    int sock = os::SockOpenTcp();
    EXPECT_EQ(os::SockConnectIPv4Within(sock, loopback, port, 10000, &error), 0);
    EXPECT_EQ(error, 0);
    os::SockCloseHandle(sock);
    char problem[os::kSystemTextSize];
    EXPECT_STREQ(os::ConnectProblem("127.0.0.1", port, 10000, problem, sizeof problem), "");

    os::SockCloseHandle(listener);
    sock = os::SockOpenTcp();
    EXPECT_EQ(os::SockConnectIPv4Within(sock, loopback, port, 10000, &error), -1);
    EXPECT_NE(error, 0);
    os::SockCloseHandle(sock);
    EXPECT_STRNE(os::ConnectProblem("127.0.0.1", port, 10000, problem, sizeof problem), "");
}

}  // namespace
}  // namespace tranpak::test
