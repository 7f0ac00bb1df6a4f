// The floor for the client against the host under load: the least that
// moves the same frames over the same connections.
//
//   peer    the test peer, one thread per connection: reads a Packet (02,
//           4 length digits, that many bytes, 03; the kit's wire reader)
//           and answers it with the request's frame with the third digit
//           of its type raised ("0200" becomes "0210")
//   driver  C threads, one connection each, sending the worked example's
//           frame (packed once by the library) and reading the reply, N
//           exchanges in all, each timed with steady_clock
//
//   tranpak-load-floor --count N --connections C
//   tranpak-load-floor --peer PORTFILE
//
// --peer runs only a peer, on a free loopback port written to PORTFILE,
// until killed: each Packet read is answered with the worked example's
// reply ("0210", MAC by the library with the key
// 0123456789ABCDEF, packed once), so that tranpak-client
// sending the worked example can be timed against the least a host does.
//
// Prints one JSON object with the keys of tranpak-client --json, so that
// scripts/bench.sh reads both alike.
#include "bench_support.h"

#include "kit/wire.h"
#include "channel/net.h"
#include "os_programs.h"
#include "support/peer.h"
#include "tranpak.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace tranpak;

namespace {

using Clock = std::chrono::steady_clock;

// The type's third digit, after the start byte and 4 length digits.
constexpr int kRaisedDigitAt = wire::kPacketHeadSize + 2;
constexpr int kPacketMax = wire::kPacketBufSize;
constexpr int kMaxConnections = 1024;
// Every connection may be waiting to be accepted at once.
constexpr int kListenBacklog = kMaxConnections;

void RaiseTypeDigit(unsigned char *frame)
{
    if (frame[kRaisedDigitAt] >= '0' && frame[kRaisedDigitAt] < '9')
        ++frame[kRaisedDigitAt];
}

// The echo peer: a thread per connection, each answering every Packet
// with reply until its client closes; no receive limit, so that it runs
// as long as its clients do.
test::PeerOptions EchoOptions(int connections)
{
    test::PeerOptions options;
    options.connections = connections;
    options.backlog = kListenBacklog;
    options.waitMillis = 0;
    return options;
}

struct Driver {
    std::string request, reply;
    std::atomic<int> tried{0};
    std::atomic<bool> go{false};
};

// One connection's share of the exchanges: latencies in microseconds of
// those that came back as expected, the others counted in *failed.
void Drive(Driver &d, int port, long count, std::vector<double> *latencies, long *failed)
{
    const int sock = os::SockOpenTcp();
    const unsigned char loopback[4] = {127, 0, 0, 1};
    const bool connected = sock >= 0 && os::SockConnectIPv4(sock, loopback, port) == 0;
    ++d.tried;
    while (!d.go.load())
        std::this_thread::yield();
    const int size = static_cast<int>(d.request.size());
    unsigned char got[kPacketMax];
    for (long k = 0; connected && k < count; ++k) {
        const auto start = Clock::now();
        if (SendAll(sock, d.request.data(), size) != size || RecvAll(sock, got, size) != size)
            break;
        const auto took = Clock::now() - start;
        if (std::memcmp(got, d.reply.data(), d.reply.size()) != 0)
            continue;
        latencies->push_back(std::chrono::duration<double, std::micro>(took).count());
    }
    *failed = count - static_cast<long>(latencies->size());
    if (sock >= 0)
        os::SockCloseHandle(sock);
}

// The value below which a share q of the sorted latencies lie.
double Quantile(const std::vector<double> &sorted, double q)
{
    if (sorted.empty())
        return 0;
    const size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

bool ReadArgs(int argc, char **argv, long *count, int *connections)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const long v = std::strtol(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--count") == 0)
            *count = v;
        else if (std::strcmp(argv[i], "--connections") == 0)
            *connections = static_cast<int>(v);
        else
            return false;
    }
    return argc % 2 == 1 && *count > 0 && *connections > 0 && *connections <= kMaxConnections;
}

// The key tranpak-client is given in scripts/bench.sh: 0123456789ABCDEF.
constexpr unsigned char kClientKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

std::string Frame(const char *type = nullptr, const unsigned char *key = bench::kKey)
{
    TpSession s;
    bench::SetExampleSession(&s);
    if (type != nullptr && TpSetCell(&s, 0, type) != 0)
        std::abort();
    unsigned char frame[kPacketMax];
    int len = 0;
    if (TpPackMesg(&s, key, frame, sizeof frame, &len) != 0)
        std::abort();
    return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
}

int Peer(const char *portFile)
{
    test::ScriptedPeer peer({test::Echo(0, Frame("0210", kClientKey))}, EchoOptions(test::kEveryConnection));
    FILE *f = peer.port() <= 0 ? nullptr : std::fopen(portFile, "w");
    if (f == nullptr) {
        std::fprintf(stderr, "tranpak-load-floor: cannot listen on loopback or write %s\n", portFile);
        return 1;
    }
    std::fprintf(f, "%d\n", peer.port());
    std::fclose(f);
    for (;;)
        os::SleepMillis(60000);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--peer") == 0)
        return Peer(argv[2]);
    long count = 0;
    int connections = 0;
    if (!ReadArgs(argc, argv, &count, &connections)) {
        std::fprintf(stderr, "usage: tranpak-load-floor --count N --connections C (1 to %d)\n", kMaxConnections);
        return 2;
    }
    Driver d;
    d.request = Frame();
    d.reply = d.request;
    RaiseTypeDigit(reinterpret_cast<unsigned char *>(&d.reply[0]));

    test::ScriptedPeer peer({test::Echo(0, d.reply)}, EchoOptions(connections));
    const int port = peer.port();
    if (port <= 0) {
        std::fprintf(stderr, "tranpak-load-floor: cannot listen on loopback\n");
        return 1;
    }
    std::vector<std::vector<double>> latencies(static_cast<size_t>(connections));
    std::vector<long> failed(static_cast<size_t>(connections), 0);
    std::vector<std::thread> drivers;
    for (int c = 0; c < connections; ++c) {
        const long share = count / connections + (c < count % connections ? 1 : 0);
        latencies[c].reserve(static_cast<size_t>(share));
        drivers.emplace_back(Drive, std::ref(d), port, share, &latencies[c], &failed[c]);
    }
    // Every driver has tried to connect before the first exchange.
    while (d.tried.load() < connections)
        std::this_thread::yield();
    const auto start = Clock::now();
    d.go.store(true);
    for (auto &t : drivers)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    peer.Wait();

    std::vector<double> all;
    long failures = 0;
    for (int c = 0; c < connections; ++c) {
        all.insert(all.end(), latencies[c].begin(), latencies[c].end());
        failures += failed[c];
    }
    std::sort(all.begin(), all.end());
    const long done = static_cast<long>(all.size());
    const std::string failureKinds = failures != 0 ? "\"exchange\":" + std::to_string(failures) : "";
    std::printf(
        "{\"requested\":%ld,\"connections\":%d,\"connect_each\":false,\"done\":%ld,\"failed\":%ld,"
        "\"failures\":{%s},\"stopped\":false,\"seconds\":%.3f,\"per_second\":%.1f,\"latency_us\":{"
        "\"min\":%.1f,\"p50\":%.1f,\"p90\":%.1f,\"p99\":%.1f,\"p99.9\":%.1f,\"max\":%.1f}}\n",
        count, connections, done, failures, failureKinds.c_str(), seconds,
        seconds > 0 ? static_cast<double>(done) / seconds : 0.0, Quantile(all, 0), Quantile(all, 0.5),
        Quantile(all, 0.9), Quantile(all, 0.99), Quantile(all, 0.999), all.empty() ? 0.0 : all.back());
    return failures == 0 ? 0 : 1;
}
