// Instruction counts per call, for callgrind. One case per run:
//
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect=FUNCTION \
//       tranpak-count CASE [CALLS]
//
// A case sets its message up, checks that the floor and the library make
// and read the same bytes, calls the measured function a few times to warm
// it up, zeroes callgrind's counters and calls it CALLS times. Collection
// is on only inside FUNCTION (printed by `tranpak-count --list`), so the
// total callgrind reports divided by CALLS is the cost of one call.
// Loopback sockets carry the frames; the peer's side of each exchange
// (draining a sent frame, writing the reply) runs outside FUNCTION.
#include "bench_support.h"
#include "floors.h"

#include "message/mesg_state.h"
#include "kit/wire_socket.h"
#include "channel/net.h"
#include "codec/packet.h"
#include "os_programs.h"
#include "support/peer.h"
#include "tranpak.h"

#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace tranpak;
using namespace tranpak::bench;

namespace {

constexpr int kWarmUp = 20;

struct Link {
    int client = -1;  // the library's or the floor's end
    int peer = -1;    // the driver's end
};

// The peer's end is driven here, between the measured calls, not by the
// test peer's thread: the measured receive must find its reply whole in
// the socket, or it would wait, and count the wait's instructions.
Link OpenLink()
{
    Link link;
    test::ScriptedPeer listener({}, test::AcceptNobody());
    if (!listener.Pair(&link.client, &link.peer)) {
        std::fprintf(stderr, "no loopback connection\n");
        std::exit(1);
    }
    return link;
}

void Fail(const char *what)
{
    std::fprintf(stderr, "tranpak-count: %s\n", what);
    std::exit(1);
}

// Reads the frame the measured call sent, which must be count bytes.
void Drain(int sock, int count)
{
    static unsigned char buf[wire::kPacketBufSize];
    const wire::SocketRead r = wire::ReadFrame(sock, wire::Kind::kPacket, buf, sizeof buf, 0);
    if (r.end != wire::End::kFrame || r.scan.size != count)
        Fail("sent frame not received");
}

void Feed(int sock, const std::string &frame)
{
    if (SendAll(sock, frame.data(), static_cast<int>(frame.size())) != static_cast<int>(frame.size()))
        Fail("reply not written");
}

// The message of a case: its library set-up, its floor input and frame.
struct Message {
    bool full;
    std::string frame;
    ExampleFields example = ExampleIn();
    FullFields fullFields = FullIn();

    explicit Message(bool isFull) : full(isFull)
    {
        if (full)
            SetFull();
        else
            SetExample();
        frame = CurrentFrame();
        unsigned char floorFrame[kFrameBufSize];
        int n = full ? FloorPackFull(floorFrame, kKey, &fullFields) : FloorPackExample(floorFrame, kKey, &example);
        if (frame.empty() || frame != std::string(reinterpret_cast<char *>(floorFrame), static_cast<size_t>(n)))
            Fail("the floor's frame differs from the library's");
        const auto *body = reinterpret_cast<const unsigned char *>(frame.data()) + wire::kPacketHeadSize;
        const int len = static_cast<int>(frame.size()) - wire::kPacketOverhead;
        int rc = full ? FloorUnpackFull(body, len, &fullFields) : FloorUnpackExample(body, len, &example);
        if (rc != 0 || FloorCheckMac(body, len, kKey) != 0)
            Fail("the floor does not read the library's frame");
    }
    int Len() const { return static_cast<int>(frame.size()); }
    const unsigned char *Body() const
    {
        return reinterpret_cast<const unsigned char *>(frame.data()) + wire::kPacketHeadSize;
    }
};

// One measured call of each kind.
void SendLibrary(const Link &l, const Message &m)
{
    if (SockSendMesg(l.client, kKey) != 0)
        Fail("SockSendMesg failed");
    Drain(l.peer, m.Len());
}

TpSession g_session;

void SendSession(const Link &l, const Message &m)
{
    if (TpSockSendMesg(&g_session, l.client, kKey) != 0)
        Fail("TpSockSendMesg failed");
    Drain(l.peer, m.Len());
}

void RecvSession(const Link &l, const Message &m)
{
    Feed(l.peer, m.frame);
    if (TpSockRecvMesg(&g_session, l.client) != 0)
        Fail("TpSockRecvMesg failed");
}

void SendFloor(const Link &l, const Message &m)
{
    int rc = m.full ? FloorSendFull(l.client, kKey, &m.fullFields) : FloorSendExample(l.client, kKey, &m.example);
    if (rc != 0)
        Fail("floor send failed");
    Drain(l.peer, m.Len());
}

void RecvLibrary(const Link &l, const Message &m)
{
    Feed(l.peer, m.frame);
    if (SockRecvMesg(l.client, 0) != 0)
        Fail("SockRecvMesg failed");
}

void RecvFloor(const Link &l, Message &m)
{
    Feed(l.peer, m.frame);
    int rc = m.full ? FloorRecvFull(l.client, &m.fullFields) : FloorRecvExample(l.client, &m.example);
    if (rc != 0)
        Fail("floor receive failed");
}

void CheckLibrary(const Link &, const Message &)
{
    if (CheckMesgMac(kKey) != 0)
        Fail("CheckMesgMac failed");
}

void CheckFloor(const Link &, const Message &m)
{
    if (FloorCheckMac(m.Body(), m.Len() - wire::kPacketOverhead, kKey) != 0)
        Fail("floor MAC check failed");
}

// The worked example packed and unpacked without a socket, through the
// session: in the seed's format, and with a 2-byte binary length and BCD
// numbers and prefixes (docs/wire-formats.md). g_frame is the session's
// frame, packed once before the measured calls.
std::string g_frame;

void SetBcdDialect(TpSession *s)
{
    const char *const lines[][2] = {{"LENGTH", "BINARY2"}, {"NUMBERS", "BCD"}, {"PREFIX", "BCD"}};
    for (const auto &line : lines)
        if (TpSetWireFormat(s, line[0], line[1]) != 0)
            Fail("TpSetWireFormat failed");
}

void PackSession(const Link &, const Message &)
{
    unsigned char frame[4096];
    int len = 0;
    if (TpPackMesg(&g_session, kKey, frame, sizeof frame, &len) != 0 || len != static_cast<int>(g_frame.size()))
        Fail("TpPackMesg failed");
}

void UnpackSession(const Link &, const Message &)
{
    if (TpUnpackMesg(&g_session, reinterpret_cast<const unsigned char *>(g_frame.data()),
                     static_cast<int>(g_frame.size())) != 0)
        Fail("TpUnpackMesg failed");
}

struct Case {
    const char *name;
    const char *function;  // what callgrind collects
    bool full;
    void (*call)(const Link &, Message &);
};

template <void (*F)(const Link &, const Message &)>
void Adapt(const Link &l, Message &m)
{
    F(l, m);
}

const Case kCases[] = {
    {"send_example", "SockSendMesg", false, Adapt<SendLibrary>},
    {"send_example_floor", "FloorSendExample", false, Adapt<SendFloor>},
    {"send_example_session", "TpSockSendMesg", false, Adapt<SendSession>},
    {"recv_example", "SockRecvMesg", false, Adapt<RecvLibrary>},
    {"recv_example_floor", "FloorRecvExample", false, RecvFloor},
    {"recv_example_session", "TpSockRecvMesg", false, Adapt<RecvSession>},
    {"check_example", "CheckMesgMac", false, Adapt<CheckLibrary>},
    {"check_example_floor", "FloorCheckMac", false, Adapt<CheckFloor>},
    {"send_full", "SockSendMesg", true, Adapt<SendLibrary>},
    {"send_full_floor", "FloorSendFull", true, Adapt<SendFloor>},
    {"recv_full", "SockRecvMesg", true, Adapt<RecvLibrary>},
    {"recv_full_floor", "FloorRecvFull", true, RecvFloor},
    {"check_full", "CheckMesgMac", true, Adapt<CheckLibrary>},
    {"check_full_floor", "FloorCheckMac", true, Adapt<CheckFloor>},
    {"pack_example_session", "TpPackMesg", false, Adapt<PackSession>},
    {"unpack_example_session", "TpUnpackMesg", false, Adapt<UnpackSession>},
    {"pack_example_bcd", "TpPackMesg", false, Adapt<PackSession>},
    {"unpack_example_bcd", "TpUnpackMesg", false, Adapt<UnpackSession>},
};

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const Case &c : kCases)
            std::printf("%s %s\n", c.name, c.function);
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: tranpak-count --list | CASE [CALLS]\n");
        return 2;
    }
    const int calls = argc >= 3 ? std::atoi(argv[2]) : 1000;
    for (const Case &c : kCases) {
        if (std::strcmp(argv[1], c.name) != 0)
            continue;
        Link link = OpenLink();
        SetExampleSession(&g_session);  // first: it loads the example's definitions
        Message message(c.full);
        const std::string name = c.name;
        if (name.ends_with("_bcd"))
            SetBcdDialect(&g_session);
        if (name.starts_with("pack_") || name.starts_with("unpack_")) {
            unsigned char frame[4096];
            int len = 0;
            if (TpPackMesg(&g_session, kKey, frame, sizeof frame, &len) != 0)
                Fail("TpPackMesg failed");
            g_frame.assign(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
        }
        if (std::strncmp(c.name, "check", 5) == 0)
            RecvLibrary(link, message);  // CheckMesgMac checks the message last received
        for (int k = 0; k < kWarmUp; ++k)
            c.call(link, message);
        CALLGRIND_ZERO_STATS;
        for (int k = 0; k < calls; ++k)
            c.call(link, message);
        SockClose(link.client);
        os::SockCloseHandle(link.peer);
        std::printf("%s %d calls\n", c.name, calls);
        return 0;
    }
    std::fprintf(stderr, "tranpak-count: no case %s\n", argv[1]);
    return 2;
}
