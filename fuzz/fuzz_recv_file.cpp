// The receiving side of the file transfer on whatever bytes a host sends
// after reading the request. The first input byte picks text or binary.
#include "fuzz_support.h"
#include "kit/wire.h"
#include "net/net.h"
#include "os_programs.h"
#include "tranpak.h"

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace tranpak;

namespace {

// How long the host waits for the request, which comes at once.
constexpr int kRequestMillis = 10000;

// The host: accepts, reads the request frame, sends the current input,
// closes.
struct Host {
    int listener = -1;
    int port = 0;
    std::mutex lock;
    std::condition_variable changed;
    const uint8_t *bytes = nullptr;
    size_t size = 0;
    bool pending = false;

    void Serve()
    {
        for (;;) {
            int sock = os::SockAccept(listener);
            if (sock < 0)
                continue;
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [this] { return pending; });
            unsigned char request[wire::kFileBufSize];
            wire::ReadFrame(sock, wire::Kind::kFile, request, sizeof request, kRequestMillis);
            SendAll(sock, bytes, static_cast<int>(size));
            os::SockCloseHandle(sock);
            pending = false;
            changed.notify_all();
        }
    }
};

Host g_host;

void Setup()
{
    fuzz::InitWithDefinitions("");
    g_host.listener = os::SockListen("127.0.0.1", 0);
    g_host.port = os::SockLocalPort(g_host.listener);
    std::thread([] { g_host.Serve(); }).detach();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (Setup(), true);
    (void)ready;
    if (size < 1 || size > 65536)
        return 0;
    {
        std::lock_guard<std::mutex> guard(g_host.lock);
        g_host.bytes = data + 1;
        g_host.size = size - 1;
        g_host.pending = true;
    }
    g_host.changed.notify_all();
    if (data[0] & 1)
        SockRecvFile("127.0.0.1", g_host.port, "req", "fuzz-fetched.dat");
    else
        SockRecvBinFile("127.0.0.1", g_host.port, "req", "fuzz-fetched.dat");
    // The host is done with this input before the next one replaces it.
    std::unique_lock<std::mutex> guard(g_host.lock);
    g_host.changed.wait(guard, [] { return !g_host.pending; });
    return 0;
}
