// Speed of the library against references measured in the same run:
//   - the MAC (fold plus one DES) against OpenSSL's DES doing a fresh key
//     schedule and the block after the same fold; the library once with the
//     same key every time (its round keys kept) and once with the key
//     changing every time (a schedule per block, as OpenSSL here);
//   - packing and unpacking the worked example and a message that fills
//     the 2029-byte data area, against the hand-written floors (floors.h);
//   - one request and reply over loopback through the library against the
//     same bytes through bare sockets.
#include "bench_support.h"
#include "floors.h"

#include "api/session.h"
#include "message/mesg_state.h"
#include "kit/wire_socket.h"
#include "channel/net.h"
#include "crypto/des.h"
#include "codec/mac.h"
#include "crypto/fold.h"
#include "codec/packet.h"
#include "os_programs.h"
#include "support/peer.h"
#include "tranpak.h"

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <openssl/des.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

using namespace tranpak;
using namespace tranpak::bench;

namespace {

const char kCovered[] = "0812345678000123000000001000";
const unsigned char kOtherKey[8] = {0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};

// As a session does it: the round keys of the last key kept in its context.
void BM_MacLibrary(benchmark::State &state)
{
    DesContext des{};
    unsigned char acc[8], mac[8];
    for (auto _ : state) {
        FoldMac(reinterpret_cast<const unsigned char *>(kCovered), 28, acc);
        DesBlock(des, acc, mac, kKey);
        benchmark::DoNotOptimize(mac);
    }
}
BENCHMARK(BM_MacLibrary);

void BM_MacLibraryNewKey(benchmark::State &state)
{
    DesContext des{};
    unsigned char acc[8], mac[8];
    bool other = false;
    for (auto _ : state) {
        FoldMac(reinterpret_cast<const unsigned char *>(kCovered), 28, acc);
        DesBlock(des, acc, mac, other ? kOtherKey : kKey);
        other = !other;
        benchmark::DoNotOptimize(mac);
    }
}
BENCHMARK(BM_MacLibraryNewKey);

void BM_MacOpenSSL(benchmark::State &state)
{
    DES_cblock key, acc, mac;
    std::memcpy(key, kKey, 8);
    for (auto _ : state) {
        FoldMac(reinterpret_cast<const unsigned char *>(kCovered), 28, acc);
        DES_key_schedule schedule;
        DES_set_key_unchecked(&key, &schedule);
        DES_ecb_encrypt(&acc, &mac, &schedule, DES_ENCRYPT);
        benchmark::DoNotOptimize(mac);
    }
}
BENCHMARK(BM_MacOpenSSL);

void PackBench(benchmark::State &state, void (*setup)())
{
    setup();
    static unsigned char frame[kFrameBufSize];
    int len = 0;
    for (auto _ : state) {
        if (BuildPacket(DefaultMesg(), DefaultDes(), frame, kKey, &len) != 0)
            state.SkipWithError("packing failed");
        benchmark::DoNotOptimize(frame);
    }
    state.counters["frame_bytes"] = len;
}

// ResetMesg, then the frame's bitmap and data into the Packet as a receive
// leaves them, then UnpackMesg.
void UnpackBench(benchmark::State &state, void (*setup)())
{
    setup();
    const std::string frame = CurrentFrame();
    const int len = static_cast<int>(frame.size());
    for (auto _ : state) {
        ResetMesg();
        Packet &p = DefaultMesg().packet;
        p.len = len - kFrameOverhead;
        std::memcpy(p.bitmap, frame.data() + 9, kBitmapSize);
        std::memcpy(p.data, frame.data() + 17, static_cast<size_t>(len - 18));
        if (UnpackMesg(DefaultMesg()) != 0)
            state.SkipWithError("unpacking failed");
    }
    state.counters["frame_bytes"] = len;
}

void BM_PackExample(benchmark::State &s) { PackBench(s, SetExample); }
void BM_UnpackExample(benchmark::State &s) { UnpackBench(s, SetExample); }
void BM_PackFull(benchmark::State &s) { PackBench(s, SetFull); }
void BM_UnpackFull(benchmark::State &s) { UnpackBench(s, SetFull); }

void BM_PackExampleFloor(benchmark::State &state)
{
    const ExampleFields in = ExampleIn();
    static unsigned char frame[kFrameBufSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(FloorPackExample(frame, kKey, &in));
        benchmark::DoNotOptimize(frame);
    }
}

void BM_PackFullFloor(benchmark::State &state)
{
    const FullFields in = FullIn();
    static unsigned char frame[kFrameBufSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(FloorPackFull(frame, kKey, &in));
        benchmark::DoNotOptimize(frame);
    }
}

void BM_UnpackExampleFloor(benchmark::State &state)
{
    SetExample();
    const std::string frame = CurrentFrame();
    const auto *body = reinterpret_cast<const unsigned char *>(frame.data()) + 5;
    ExampleFields out{};
    for (auto _ : state) {
        if (FloorUnpackExample(body, static_cast<int>(frame.size()) - 6, &out) != 0)
            state.SkipWithError("unpacking failed");
        benchmark::DoNotOptimize(out);
    }
}

void BM_UnpackFullFloor(benchmark::State &state)
{
    SetFull();
    const std::string frame = CurrentFrame();
    const auto *body = reinterpret_cast<const unsigned char *>(frame.data()) + 5;
    static FullFields out{};
    for (auto _ : state) {
        if (FloorUnpackFull(body, static_cast<int>(frame.size()) - 6, &out) != 0)
            state.SkipWithError("unpacking failed");
        benchmark::DoNotOptimize(out);
    }
}

BENCHMARK(BM_PackExample);
BENCHMARK(BM_PackExampleFloor);
BENCHMARK(BM_UnpackExample);
BENCHMARK(BM_UnpackExampleFloor);
BENCHMARK(BM_PackFull);
BENCHMARK(BM_PackFullFloor);
BENCHMARK(BM_UnpackFull);
BENCHMARK(BM_UnpackFullFloor);

// The exchanges run with the client on one processor and the host on
// another (when there are two): a thread that moves between processors, or
// shares one with its peer, changes the round trip by more than the
// library's own work in it.
void PinToProcessor(int cpu)
{
    const int count = static_cast<int>(std::thread::hardware_concurrency());
    if (count < 2)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu % count, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

void Unpin()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned k = 0; k < std::thread::hardware_concurrency() && k < CPU_SETSIZE; ++k)
        CPU_SET(k, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// Reads one whole Packet; false when the peer closed or sent something
// else.
bool ReadPacket(int sock, unsigned char (&buf)[wire::kPacketBufSize])
{
    return wire::ReadFrame(sock, wire::Kind::kPacket, buf, sizeof buf, 0).end == wire::End::kFrame;
}

// A host on loopback (the test peer) that answers every frame with the
// same reply frame until the client closes, pinned to processor 1 unless
// told otherwise.
struct EchoHost {
    test::ScriptedPeer peer;

    explicit EchoHost(const std::string &reply, bool pinned = true)
        : peer({test::Call([pinned](int) {
                    if (pinned)
                        PinToProcessor(1);
                }),
                test::Echo(0, reply)})
    {
    }
    int Port() const { return peer.port(); }
};

std::string ExampleFrame()
{
    SetExample();
    return CurrentFrame();
}

void BM_ExchangeLibrary(benchmark::State &state)
{
    EchoHost host(ExampleFrame());
    PinToProcessor(0);
    int sock = SockConnect("127.0.0.1", host.Port());
    for (auto _ : state) {
        SetExampleValues();
        if (SockSendMesg(sock, kKey) != 0 || SockRecvMesg(sock, 0) != 0)
            state.SkipWithError("exchange failed");
    }
    SockClose(sock);
    Unpin();
}
BENCHMARK(BM_ExchangeLibrary)->UseRealTime();

void BM_ExchangeBareSockets(benchmark::State &state)
{
    const std::string request = ExampleFrame();
    EchoHost host(request);
    PinToProcessor(0);
    int sock = os::SockOpenTcp();
    const unsigned char loopback[4] = {127, 0, 0, 1};
    os::SockConnectIPv4(sock, loopback, host.Port());
    unsigned char buf[wire::kPacketBufSize];
    for (auto _ : state) {
        SendAll(sock, request.data(), static_cast<int>(request.size()));
        if (!ReadPacket(sock, buf))
            state.SkipWithError("exchange failed");
    }
    os::SockCloseHandle(sock);
    Unpin();
}
BENCHMARK(BM_ExchangeBareSockets)->UseRealTime();

// Exchanges per second with 1, 2 and 4 threads, each with a session and
// connection of its own and its own host thread (unpinned: there are more
// threads than processors). The host answers with the request's frame.
void BM_ExchangeSessions(benchmark::State &state)
{
    auto s = std::make_unique<TpSession>();
    SetExampleSession(s.get());
    unsigned char frame[kFrameBufSize];
    int len = 0;
    TpPackMesg(s.get(), kKey, frame, sizeof frame, &len);
    EchoHost host(std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len)), false);
    int sock = TpSockConnect(s.get(), "127.0.0.1", host.Port());
    for (auto _ : state) {
        if (TpSockSendMesg(s.get(), sock, kKey) != 0 || TpSockRecvMesg(s.get(), sock) != 0)
            state.SkipWithError("exchange failed");
    }
    TpSockClose(s.get(), sock);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExchangeSessions)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

// The same with bare sockets and the same frames.
void BM_ExchangeSessionsBare(benchmark::State &state)
{
    auto s = std::make_unique<TpSession>();
    SetExampleSession(s.get());
    unsigned char request[kFrameBufSize], buf[wire::kPacketBufSize];
    int len = 0;
    TpPackMesg(s.get(), kKey, request, sizeof request, &len);
    EchoHost host(std::string(reinterpret_cast<char *>(request), static_cast<size_t>(len)), false);
    int sock = os::SockOpenTcp();
    const unsigned char loopback[4] = {127, 0, 0, 1};
    os::SockConnectIPv4(sock, loopback, host.Port());
    for (auto _ : state) {
        SendAll(sock, request, len);
        if (!ReadPacket(sock, buf))
            state.SkipWithError("exchange failed");
    }
    os::SockCloseHandle(sock);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExchangeSessionsBare)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
