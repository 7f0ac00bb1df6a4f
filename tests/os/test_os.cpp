// The OS layer that the library and its programs share: the socket calls
// that do not wait and their one "not now", a connection attempt that
// names its refusal, the start-up of either version.
#include "os_programs.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

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

// The library's own start-up, as loading it runs it: sockets can be
// opened afterwards, and starting again is no failure.
TEST_F(OsLayer, TheLibrarysStartUpLeavesSocketsReady)
{
    EXPECT_EQ(os::SocketsStart(), 0);
    EXPECT_EQ(os::SocketsStart(), 0);
    const int sock = os::SockOpenTcp();
    ASSERT_NE(sock, os::kNoSocket);
    EXPECT_EQ(os::SockCloseHandle(sock), 0);
}

// The running program's path: whole, '/' between components, or refused
// with an empty text when it does not fit with its closing NUL.
TEST(ProgramPath, IsWholeOrRefused)
{
    char full[os::kProgramPathSize];
    ASSERT_TRUE(os::ProgramPath(full, sizeof full));
    const std::string path = full;
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.find('\\'), std::string::npos) << path;
    EXPECT_NE(path.find("test_os"), std::string::npos) << path;
    const int length = static_cast<int>(path.size());
    const struct {
        int size;
        bool fits;
    } cases[] = {{length + 1, true}, {length, false}, {length - 1, false}, {1, false}};
    for (const auto &c : cases) {
        char out[os::kProgramPathSize];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(os::ProgramPath(out, c.size), c.fits) << c.size;
        EXPECT_STREQ(out, c.fits ? path.c_str() : "") << c.size;
    }
    EXPECT_FALSE(os::ProgramPath(nullptr, 16));
    char untouched[4] = "abc";
    EXPECT_FALSE(os::ProgramPath(untouched, 0));
    EXPECT_STREQ(untouched, "abc");
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

// Each thread runs its body on the argument it was started with, and has
// ended once joined.
TEST(OsThreads, EachBodyGetsItsOwnArgument)
{
    struct Work {
        int in = 0, out = 0;
    } works[3] = {{3, 0}, {5, 0}, {7, 0}};
    auto square = [](void *arg) {
        auto *w = static_cast<Work *>(arg);
        os::SleepMillis(20);
        w->out = w->in * w->in;
    };
    os::Thread threads[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(threads[i].Start(square, &works[i]));
    EXPECT_FALSE(threads[0].Start(square, &works[0])) << "a thread not joined is started again";
    for (auto &t : threads) {
        EXPECT_TRUE(t.Joinable());
        t.Join();
        EXPECT_FALSE(t.Joinable());
    }
    EXPECT_EQ(works[0].out, 9);
    EXPECT_EQ(works[1].out, 25);
    EXPECT_EQ(works[2].out, 49);
}

// A wait that nobody ends lasts its time (not none, not seconds for
// milliseconds), and gives the lock back held: another thread gets it only
// once this one lets go.
TEST(OsThreads, ConditionWaitTimesOutHoldingTheLock)
{
    os::Mutex lock;
    os::CondVar wake;
    struct Other {
        os::Mutex *lock;
        bool got = false;
    } other{&lock};
    lock.Lock();
    const auto start = std::chrono::steady_clock::now();
    wake.Wait(lock, 300);
    const auto waited = std::chrono::steady_clock::now() - start;
    os::Thread t;
    ASSERT_TRUE(t.Start(
        [](void *arg) {
            auto *o = static_cast<Other *>(arg);
            os::LockGuard hold(*o->lock);
            o->got = true;
        },
        &other));
    os::SleepMillis(100);
    const bool gotWhileHeld = other.got;
    lock.Unlock();
    t.Join();
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::milliseconds(10000));
    EXPECT_FALSE(gotWhileHeld);
    EXPECT_TRUE(other.got);
}

class ServedBounds : public ScratchTest {};

std::set<std::string> Listing(const char *dir)
{
    std::set<std::string> names;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir))
        names.insert(e.path().generic_string());
    return names;
}

// A request longer than any path the layer builds is refused whole with
// its own words: cut anywhere, it would name the served directory itself
// ("./././."), and given whole to the system it gets the system's words.
TEST_F(ServedBounds, ARequestTooLongIsRefusedNotCut)
{
    std::filesystem::create_directories("served");
    WriteFile("served/f", "in");
    std::string request;
    while (request.size() < 6000)
        request += "./";
    request += "f";
    for (auto lookup : {os::ServedDir::Lookup::kBest, os::ServedDir::Lookup::kWalk}) {
        os::ServedDir dir;
        ASSERT_TRUE(dir.Open("served", lookup));
        os::Refused refused = os::Refused::kNone;
        char detail[os::kRefusalDetailSize] = "";
        EXPECT_EQ(dir.OpenForRead(request.c_str(), &refused, detail, sizeof detail), -1);
        EXPECT_EQ(refused, os::Refused::kSystem);
        EXPECT_STREQ(detail, "path too long");
        os::PendingStore store;
        std::strcpy(detail, "");
        EXPECT_FALSE(dir.StoreBegin(request.c_str(), &store, &refused, detail, sizeof detail));
        EXPECT_EQ(refused, os::Refused::kSystem);
        EXPECT_STREQ(detail, "path too long");
        EXPECT_EQ(store.Fd(), -1);
    }
    EXPECT_EQ(Listing("served"), std::set<std::string>({"served/f"}));
}

// A store through a link whose target, joined to the link's directory,
// does not fit is refused: cut to fit, "d/" and the target would name d/v,
// which stays as it was.
TEST_F(ServedBounds, ALinkTargetTooLongIsRefusedNotCut)
{
    namespace fs = std::filesystem;
    fs::create_directories("served/d");
    WriteFile("served/d/v", "keep");
    // 4094 bytes: "d/" and this are 4096, one more than a path may have
    // before its closing NUL; the first 4093 of them end in "v".
    std::string target;
    while (target.size() < 4092)
        target += "./";
    target += "vx";
    std::error_code ec;
    fs::create_symlink(target, "served/d/l", ec);
    if (ec)
        GTEST_SKIP() << "no such link here: " << ec.message();
    os::ServedDir dir;
    ASSERT_TRUE(dir.Open("served"));
    if (!dir.FollowsLinksInside())
        GTEST_SKIP() << "links are not followed here";
    os::Refused refused = os::Refused::kNone;
    char detail[os::kRefusalDetailSize] = "";
    os::PendingStore store;
    EXPECT_FALSE(dir.StoreBegin("d/l", &store, &refused, detail, sizeof detail));
    EXPECT_EQ(refused, os::Refused::kSystem);
    EXPECT_STREQ(detail, "path too long");
    EXPECT_EQ(ReadFile("served/d/v"), "keep");
    EXPECT_EQ(Listing("served"), std::set<std::string>({"served/d", "served/d/l", "served/d/v"}));
}

}  // namespace
}  // namespace tranpak::test
