// Sending and receiving one Packet on a connection.
//
//   02 30 30 34 38                head: start byte and len 48
//   30 32 30 30 .. 03             len + 1 bytes: txcode, bitmap, data, stop
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

#include "message/cell_access.h"
#include "message/numtext.h"
#include "message/text_check.h"
#include "diag/ctrace.h"
#include "channel/net.h"
#include "codec/packet.h"
#include "os/os.h"

#include <cstring>

namespace tranpak {
namespace {

constexpr int kHeadSize = wire::kPacketHeadSize;
// Smallest len: txcode, bitmap and the 8 bytes of field 64.
constexpr int kMinLen = kLenHeader + kMacSize;
static_assert(kMinLen == wire::kMinPacketLen);
// Largest len whose remaining len + 1 bytes fit the receive buffer.
constexpr int kMaxLen = kFrameBufSize - 1;
static_assert(kMaxLen == wire::kMaxPacketLen);
// A whole frame of the largest len, head included.
constexpr int kRecvBufSize = wire::kPacketBufSize;

void Trace(MesgState &m, const char *label, const void *bytes, int count)
{
    if (m.settings.traceflag)
        WriteComTrace(m.settings.ctracefile, label, bytes, count);
}

// Receives exactly count bytes. A short count is logged with `format` and
// what did arrive is traced; the whole is traced when it all arrived.
bool RecvTraced(MesgState &m, int sock, unsigned char *buf, int count, const FrameDeadline &deadline,
                const char *label, const char *format)
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

// The start byte and len of a frame's first five bytes, checked.
// Inlined: it is on the path of every received frame.
[[gnu::always_inline]] inline bool TakeHead(MesgState &m, const unsigned char head[kHeadSize])
{
    Packet &p = m.packet;
    p.start = head[0];
    if (p.start != wire::kPacketStart) {
        WriteErrLog(m.LogField(-1, 0), kErrMalformed, "tranpak: Packet.start = 0x%02X", p.start);
        return false;
    }
    const int len = wire::ReadDigits(head + 1);
    if (len >= 0) {
        p.len = len;
    } else {
        // Anything but four digits reads as the number test and atoi read it.
        char digits[wire::kLenDigits + 1] = {};
        std::memcpy(digits, head + 1, wire::kLenDigits);
        if (!IsNumberText(digits)) {
            WriteErrLog(m.LogField(-1, 1), kErrMalformed, "tranpak: Packet.len not number, buf:%s", digits);
            return false;
        }
        p.len = TextToInt(digits);
    }
    if (p.len < kMinLen) {
        WriteErrLog(m.LogField(-1, 1), kErrMalformed, "tranpak: Packet.len = %d, too short", p.len);
        return false;
    }
    if (p.len > kMaxLen) {
        WriteErrLog(m.LogField(-1, 1), kErrMalformed, "tranpak: Packet.len = %d, too long", p.len);
        return false;
    }
    return true;
}

// The len + 1 bytes after the head: txcode, bitmap, data and the stop
// byte; then the fields.
int TakeBody(MesgState &m, const unsigned char *body)
{
    Packet &p = m.packet;
    std::memcpy(p.txcode, body, kTxcodeLen);
    p.txcode[kTxcodeLen] = '\0';
    std::memcpy(p.bitmap, body + kTxcodeLen, kBitmapSize);
    std::memcpy(p.data, body + kLenHeader, static_cast<size_t>(p.len - kLenHeader));
    p.stop = body[p.len];
    if (p.stop != wire::kPacketStop) {
        WriteErrLog(m.LogField(-1, kHeadSize + p.len), kErrMalformed, "tranpak: Packet.stop = 0x%02X", p.stop);
        return -1;
    }
    return UnpackMesg(m);
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

}  // namespace

int SockSendMesg(Session &s, int sock, const void *key)
{
    MesgState &m = s.mesg;
    if (key == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: SockSendMesg() key is NULL");
        return -1;
    }
    unsigned char frame[kFrameBufSize];
    int frameLen = 0;
    if (BuildPacket(s, frame, static_cast<const unsigned char *>(key), &frameLen) != 0)
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

int SockRecvMesg(Session &s, int sock)
{
    MesgState &m = s.mesg;
    unsigned char buf[kRecvBufSize];
    // One deadline for the whole frame, from the start of the call.
    FrameDeadline deadline(m.Log(), m.settings.recvLimit, "recv");
    ResetMesg(m);
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

int PackFrame(Session &s, const void *key, unsigned char *frame, int size, int *frameLen)
{
    MesgState &m = s.mesg;
    if (key == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpPackMesg() key is NULL");
        return -1;
    }
    if (frame == nullptr || frameLen == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpPackMesg() frame is NULL");
        return -1;
    }
    unsigned char built[kFrameBufSize];
    int len = 0;
    if (BuildPacket(s, built, static_cast<const unsigned char *>(key), &len) != 0)
        return -1;
    if (len > size) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpPackMesg() frame of %d bytes does not fit %d", len, size);
        return -1;
    }
    std::memcpy(frame, built, static_cast<size_t>(len));
    *frameLen = len;
    return 0;
}

int UnpackFrame(Session &s, const unsigned char *frame, int frameLen)
{
    MesgState &m = s.mesg;
    ResetMesg(m);
    if (frame == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpUnpackMesg() frame is NULL");
        return -1;
    }
    if (frameLen < kHeadSize) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpUnpackMesg() frameLen = %d, shorter than a frame's head",
                    frameLen);
        return -1;
    }
    if (!TakeHead(m, frame))
        return -1;
    // The head says how long the frame is: start, 4 digits, len bytes, stop.
    const int own = m.packet.len + kFrameOverhead;
    if (frameLen != own) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpUnpackMesg() frameLen = %d, the frame has %d", frameLen, own);
        return -1;
    }
    return TakeBody(m, frame + kHeadSize);
}

}  // namespace tranpak
