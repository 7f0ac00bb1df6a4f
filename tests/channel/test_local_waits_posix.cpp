// FIFOs as local files: a transfer with a time limit and the error log and
// trace never wait on the other end of one. A call that does wait is not
// left hanging: the test fails and then moves the other end itself.
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tranpak::test {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A FIFO in the scratch directory, and the ends of it the test holds.
class Fifo {
public:
    explicit Fifo(const char *name) : name_(name)
    {
        std::filesystem::remove(name);
        EXPECT_EQ(mkfifo(name, 0600), 0) << name;
    }
    ~Fifo()
    {
        Release();
        StopDraining();
    }
    Fifo(const Fifo &) = delete;
    Fifo &operator=(const Fifo &) = delete;

    // A writer that wrote these bytes and then stalls, without closing.
    void StalledWriter(const std::string &bytes)
    {
        held_[0] = open(name_, O_RDWR | O_NONBLOCK);
        EXPECT_EQ(write(held_[0], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // A reader that reads nothing, and a pipe full to the last byte.
    void FullWithoutReading()
    {
        held_[0] = open(name_, O_RDONLY | O_NONBLOCK);
        held_[1] = open(name_, O_WRONLY | O_NONBLOCK);
        static const char chunk[4096] = {};
        while (write(held_[1], chunk, sizeof chunk) > 0) {
        }
        while (write(held_[1], chunk, 1) > 0) {
        }
        EXPECT_EQ(errno, EAGAIN);
    }
    // A writer that comes after 300 ms, writes the bytes and closes.
    void LateWriter(const std::string &bytes)
    {
        late_ = std::thread([this, bytes] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            int fd = open(name_, O_WRONLY);  // waits for the reader
            if (fd >= 0) {
                EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
                close(fd);
            }
        });
    }
    // Moves every end so that whoever waits on the FIFO goes on: a reader
    // that takes everything, a writer that comes and goes (the end of the
    // file for a reader), and the ends held closed.
    void Release()
    {
        if (!draining_.exchange(true))
            drain_ = std::thread([this] {
                int fd = open(name_, O_RDONLY | O_NONBLOCK);
                char buf[4096];
                while (!stop_) {
                    if (fd < 0 || read(fd, buf, sizeof buf) <= 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                if (fd >= 0)
                    close(fd);
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        int fd = open(name_, O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            close(fd);
        for (int &h : held_) {
            if (h >= 0)
                close(h);
            h = -1;
        }
        if (late_.joinable())
            late_.join();
    }
    void StopDraining()
    {
        stop_ = true;
        if (drain_.joinable())
            drain_.join();
    }

private:
    const char *name_;
    int held_[2] = {-1, -1};
    std::thread late_, drain_;
    std::atomic<bool> draining_{false}, stop_{false};
};

struct Outcome {
    int rc;
    int category;
    std::string reason;  // GetLastErrMesg
    double seconds;
};

// Runs call on a thread of its own; when it has not returned within
// `within` seconds the test fails and the FIFO is released so that the
// call can end.
Outcome RunWithin(const std::function<int()> &call, double within, Fifo &fifo, const std::string &name)
{
    auto start = Clock::now();
    auto done = std::async(std::launch::async, [&] {
        Outcome o{call(), 0, "", 0};
        char text[300];
        o.category = GetLastErrMesg(text, sizeof text);
        o.reason = text;
        return o;
    });
    if (done.wait_for(std::chrono::duration<double>(within)) != std::future_status::ready) {
        ADD_FAILURE() << name << ": still waiting after " << within << " s";
        fifo.Release();
    }
    Outcome o = done.get();
    o.seconds = SecondsSince(start);
    fifo.StopDraining();
    return o;
}

using LocalWaitTest = ScratchTest;

// 100 blocks of 1024 bytes: more than a pipe holds.
std::string ManyBlocks()
{
    std::string frames;
    for (int i = 0; i < 100; ++i)
        frames += FileFrame('2', std::string(1024, 'x'));
    return frames + FileFrame('4', "");
}

TEST_F(LocalWaitTest, TransferLimitBoundsAFifoAsLocalFile)
{
    const std::string request = FileFrame('0', "req");
    const struct {
        const char *name;
        std::function<void(Fifo &)> other;  // what the other end does
        std::vector<PeerStep> host;
        std::function<int(int port)> call;
        int rc;
        std::vector<std::string> log;
        std::string hostGot;  // "" where not looked at
    } cases[] = {
        {"send, nobody writes",
         [](Fifo &) {},
         {ReadToEnd()},
         [](int port) { return SockSendBinFile("127.0.0.1", port, "fifo", "req"); },
         -1,
         {"tranpak: transfer time limit of 2 s passed", "tranpak: read fifo error (time limit passed)"},
         request},
        {"text send, 100 bytes then the writer stalls",
         [](Fifo &f) { f.StalledWriter(std::string(100, 'a')); },
         {ReadToEnd()},
         [](int port) { return SockSendFile("127.0.0.1", port, "fifo", "req"); },
         -1,
         {"tranpak: transfer time limit of 2 s passed", "tranpak: read fifo error (time limit passed)"},
         request},
        {"fetch, nobody reads",
         [](Fifo &) {},
         {Read(9), Send(ManyBlocks()), ReadToEnd()},
         [](int port) { return SockRecvBinFile("127.0.0.1", port, "req", "fifo"); },
         -1,
         {"tranpak: transfer time limit of 2 s passed", "tranpak: fwrite time limit passed"},
         ""},
        {"send, the writer comes late but in time",
         [](Fifo &f) { f.LateWriter("late data"); },
         {Read(30), Send(FileFrame('4', "")), ReadToEnd()},
         [](int port) { return SockSendBinFile("127.0.0.1", port, "fifo", "req"); },
         0,
         {},
         request + FileFrame('2', "late data") + FileFrame('4', "")},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(InitWith(kExampleDefinitions, false, "[Com Timeout]\nTRANSFER=2\n"), 0);
        std::filesystem::remove("errlog.txt");
        Fifo fifo("fifo");
        c.other(fifo);
        ScriptedPeer host(c.host);
        Outcome o = RunWithin([&] { return c.call(host.port()); }, 5.0, fifo, c.name);
        EXPECT_EQ(o.rc, c.rc) << c.name;
        EXPECT_EQ(ErrLog(), c.log) << c.name;
        if (c.rc != 0) {
            EXPECT_GE(o.seconds, 1.9) << c.name;
            EXPECT_EQ(o.category, TRANPAK_ERR_TIME_LIMIT) << c.name;
            EXPECT_EQ(o.reason, c.log[0]) << c.name;
        }
        if (!c.hostGot.empty())
            EXPECT_EQ(host.Received(), c.hostGot) << c.name;
    }
}

TEST_F(LocalWaitTest, ErrorLogAndTraceNeverWaitOnAFifo)
{
    auto failingGetCell = [] {
        char value[64];
        return GetCell(5, value);
    };
    auto tracedSend = [] {
        ScriptedPeer host({ReadToEnd()});
        int sock = SockConnect("127.0.0.1", host.port());
        SetWorkedExample();
        int rc = SockSendMesg(sock, "\x13\x34\x57\x79\x9B\xBC\xDF\xF1");
        SockClose(sock);
        return rc;
    };
    const struct {
        const char *name;
        const char *file;
        std::function<void(Fifo &)> other;
        std::function<int()> call;
        int rc, category;
        const char *reason;
    } cases[] = {
        {"error log, no reader", "errlog.txt", [](Fifo &) {}, failingGetCell, -1, TRANPAK_ERR_ARGUMENT,
         "tranpak: BMPCell[4] is not used"},
        {"error log, a reader that reads nothing", "errlog.txt", [](Fifo &f) { f.FullWithoutReading(); },
         failingGetCell, -1, TRANPAK_ERR_ARGUMENT, "tranpak: BMPCell[4] is not used"},
        {"trace, no reader", "ctrace.txt", [](Fifo &) {}, tracedSend, 0, 0, ""},
        {"trace, a reader that reads nothing", "ctrace.txt", [](Fifo &f) { f.FullWithoutReading(); }, tracedSend, 0, 0,
         ""},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(InitWith(kExampleDefinitions, true), 0);
        Fifo fifo(c.file);
        c.other(fifo);
        Outcome o = RunWithin(c.call, 1.0, fifo, c.name);
        EXPECT_EQ(o.rc, c.rc) << c.name;
        EXPECT_LT(o.seconds, 1.0) << c.name;
        EXPECT_EQ(o.category, c.category) << c.name;
        EXPECT_EQ(o.reason, c.reason) << c.name;
    }
}

}  // namespace
}  // namespace tranpak::test
