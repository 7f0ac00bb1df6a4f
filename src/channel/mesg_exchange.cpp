// Sending and receiving one Packet on a connection (its frame: codec/frame.h).
//
// A receive never takes a byte past the stop byte, so packets that follow
// on the same connection stay for later calls. When the whole frame has
// come, it is taken with one receive: a look at what is there (a peek,
// which takes nothing) finds the frame's length, and one receive takes
// exactly that many bytes. A frame not all there yet, or one whose head
// is not four plain digits or is out of range, is read as it always was:
// the 5 bytes of the head, then the len + 1 after them, each read waiting
// as long as the frame's time limit allows, and every failure worded as
// before. (A first read of the head and the smallest body, 26 bytes, would
// need a second wait for the rest; a peek lets one wait do.)
#include "channel/mesg_exchange.h"

#include "channel/net.h"
#include "codec/frame.h"
#include "diag/ctrace.h"
#include "message/cell_access.h"
#include "os/os.h"

#include <cstring>

namespace tranpak {
namespace {

constexpr int kHeadSize = kFrameHeadSize;
// A whole frame of the largest len, head included.
constexpr int kRecvBufSize = wire::kPacketBufSize;

void Trace(MesgState &m, const char *label, const void *bytes, int count)
{
    if (m.settings.traceflag)
        WriteComTrace(m.settings.ctracefile, label, bytes, count);
}

// Receives exactly count bytes. A short count is logged with `format` and
// what did arrive is traced; the whole is traced when it all arrived.
bool RecvTraced(MesgState &m, int sock, unsigned char *buf, int count, const FrameDeadline &deadline, const char *label,
                const char *format)
{
    int rc = RecvAll(sock, buf, count, &deadline);
    if (rc != count) {
        WriteErrLog(m.Log(), kErrPeerClosed, format, rc);
        if (rc > 0)
            Trace(m, label, buf, rc);
        return false;
    }
    Trace(m, label, buf, count);
    return true;
}

// The length of the frame when all of it has come and its head is four
// plain digits in range, with a copy of it in buf (the bytes stay in the
// socket); 0 otherwise. It waits as a read of the frame would: within the
// deadline when there is one, else until something comes.
int PeekWholeFrame(int sock, unsigned char buf[kRecvBufSize], const FrameDeadline &deadline)
{
    if (deadline.Bounded()) {
        const FrameDeadline *passing = nullptr;
        const int left = deadline.MillisLeft(&passing);
        if (left <= 0 || os::WaitSocket(sock, false, left) != 1)
            return 0;
    }
    const int n = os::SockPeekSome(sock, buf, kRecvBufSize);
    const wire::Scan scan = wire::ScanPacket(buf, n);
    return scan.status == wire::Status::kComplete ? scan.size : 0;
}

// Takes the frame that PeekWholeFrame found, size bytes: they are in the
// socket, so the receive does not wait. Traced and checked as the two
// reads of a frame would be.
int TakeWholeFrame(MesgState &m, int sock, unsigned char buf[kRecvBufSize], int size)
{
    const int rc = RecvAll(sock, buf, size);
    if (rc < kHeadSize) {
        // Only a connection reset between the peek and the receive gets here.
        WriteErrLog(m.Log(), kErrPeerClosed, "tranpak: read mesg_head rc = %d", rc);
        if (rc > 0)
            Trace(m, "recv mesg head", buf, rc);
        return -1;
    }
    Trace(m, "recv mesg head", buf, kHeadSize);
    Packet &p = m.packet;
    p.start = buf[0];
    p.len = size - wire::kPacketOverhead;
    if (rc != size) {
        WriteErrLog(m.Log(), kErrPeerClosed, "tranpak: read mesg buf rc = %d", rc - kHeadSize);
        if (rc > kHeadSize)
            Trace(m, "recv mesg data", buf + kHeadSize, rc - kHeadSize);
        return -1;
    }
    Trace(m, "recv mesg data", buf + kHeadSize, size - kHeadSize);
    return TakeBody(m, buf + kHeadSize);
}

// A frame of a dialect other than the seed's: its start byte and length,
// then the rest the length gives, each read within the frame's deadline.
[[gnu::noinline]] int RecvDialectFrame(MesgState &m, int sock, const FrameDeadline &deadline)
{
    const wire::WireFormat &f = m.settings.wire;
    if (f.length == wire::LengthCode::kNone) {
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [Wire Format] LENGTH=NONE frames cannot be read from a socket");
        return -1;
    }
    unsigned char buf[kAnyFrameSize];
    const int lengthEnd = (f.envelope == wire::EnvelopeCode::kStxEtx ? 1 : 0) + wire::LengthSize(f);
    if (!RecvTraced(m, sock, buf, lengthEnd, deadline, "recv mesg head", "tranpak: read mesg_head rc = %d"))
        return -1;
    const wire::Scan scan = wire::ScanDialect(f, buf, lengthEnd);
    if (scan.status == wire::Status::kBad)
        return RefuseScan(m, scan, buf);
    if (!RecvTraced(m, sock, buf + lengthEnd, scan.size - lengthEnd, deadline, "recv mesg data",
                    "tranpak: read mesg buf rc = %d"))
        return -1;
    return UnpackDialectFrame(m, buf, scan.size);
}

}  // namespace

int SockSendMesg(MesgState &m, DesContext &des, int sock, const void *key)
{
    if (key == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: SockSendMesg() key is NULL");
        return -1;
    }
    unsigned char frame[kAnyFrameSize];
    int frameLen = 0;
    if (BuildFrame(m, des, static_cast<const unsigned char *>(key), frame, &frameLen) != 0)
        return -1;
    FrameDeadline deadline(m.Log(), m.settings.sendLimit, "send");
    int rc = SendAll(sock, frame, frameLen, &deadline);
    if (rc == frameLen) {
        Trace(m, "send mesg body", frame, frameLen);
        return 0;
    }
    WriteErrLog(m.Log(), kErrPeerClosed, "tranpak: write socket rc: %d, iPktLen: %d", rc, frameLen);
    if (rc > 0)
        Trace(m, "send mesg body", frame, rc);
    return -1;
}

int SockRecvMesg(MesgState &m, int sock)
{
    // One deadline for the whole frame, from the start of the call.
    FrameDeadline deadline(m.Log(), m.settings.recvLimit, "recv");
    ResetMesg(m);
    if (m.settings.dialect != 0) [[unlikely]]
        return RecvDialectFrame(m, sock, deadline);
    unsigned char buf[kRecvBufSize];
    const int whole = PeekWholeFrame(sock, buf, deadline);
    if (whole > 0)
        return TakeWholeFrame(m, sock, buf, whole);
    if (!RecvTraced(m, sock, buf, kHeadSize, deadline, "recv mesg head", "tranpak: read mesg_head rc = %d") ||
        !TakeHead(m, buf))
        return -1;
    if (!RecvTraced(m, sock, buf + kHeadSize, m.packet.len + 1, deadline, "recv mesg data",
                    "tranpak: read mesg buf rc = %d"))
        return -1;
    return TakeBody(m, buf + kHeadSize);
}

}  // namespace tranpak
