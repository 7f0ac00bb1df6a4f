// Sending and receiving one Packet on a connection.
//
// A received frame is read in exactly two parts, so packets that follow on
// the same connection stay for later calls:
//   02 30 30 34 38                header: start byte and len 48
//   30 32 30 30 .. 03             len + 1 bytes: txcode, bitmap, data, stop
#include "net/mesg_exchange.h"

#include "core/cell_access.h"
#include "core/numtext.h"
#include "core/text_check.h"
#include "diag/ctrace.h"
#include "net/net.h"
#include "packet/packet.h"

#include <cstring>

namespace tranpak {
namespace {

constexpr int kHeadSize = 1 + kLenDigits;
// Smallest len: txcode, bitmap and the 8 bytes of field 64.
constexpr int kMinLen = kLenHeader + kMacSize;
// Largest len whose remaining len + 1 bytes fit the receive buffer.
constexpr int kMaxLen = kFrameBufSize - 1;

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

// The value of four decimal digits, as a frame's length usually is.
bool FourDigits(const unsigned char *text, int32_t *value)
{
    int32_t v = 0;
    for (int k = 0; k < kLenDigits; ++k) {
        const unsigned digit = static_cast<unsigned>(text[k]) - '0';
        if (digit > 9)
            return false;
        v = v * 10 + static_cast<int32_t>(digit);
    }
    *value = v;
    return true;
}

// The start byte and len of a frame's first five bytes, checked.
// Inlined: it is on the path of every received frame.
[[gnu::always_inline]] inline bool TakeHead(MesgState &m, const unsigned char head[kHeadSize])
{
    Packet &p = m.packet;
    p.start = head[0];
    if (p.start != kStartByte) {
        WriteErrLog(m.LogField(-1, 0), kErrMalformed, "tranpak: Packet.start = 0x%02X", p.start);
        return false;
    }
    if (!FourDigits(head + 1, &p.len)) {
        // Anything but four digits reads as the number test and atoi read it.
        char digits[kLenDigits + 1] = {};
        std::memcpy(digits, head + 1, kLenDigits);
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
    if (p.stop != kStopByte) {
        WriteErrLog(m.LogField(-1, kHeadSize + p.len), kErrMalformed, "tranpak: Packet.stop = 0x%02X", p.stop);
        return -1;
    }
    return UnpackMesg(m);
}

}  // namespace

int SockSendMesg(MesgState &m, DesContext &des, int sock, const void *key)
{
    if (key == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: SockSendMesg() key is NULL");
        return -1;
    }
    unsigned char frame[kFrameBufSize];
    int frameLen = 0;
    if (BuildPacket(m, des, frame, static_cast<const unsigned char *>(key), &frameLen) != 0)
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
    unsigned char buf[kFrameBufSize];
    // One deadline for the whole frame, from the start of the call.
    FrameDeadline deadline(m.Log(), m.settings.recvLimit, "recv");
    ResetMesg(m);
    if (!RecvTraced(m, sock, buf, kHeadSize, deadline, "recv mesg head", "tranpak: read mesg_head rc = %d") ||
        !TakeHead(m, buf))
        return -1;
    if (!RecvTraced(m, sock, buf, m.packet.len + 1, deadline, "recv mesg data", "tranpak: read mesg buf rc = %d"))
        return -1;
    return TakeBody(m, buf);
}

int PackFrame(MesgState &m, DesContext &des, const void *key, unsigned char *frame, int size, int *frameLen)
{
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
    if (BuildPacket(m, des, built, static_cast<const unsigned char *>(key), &len) != 0)
        return -1;
    if (len > size) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpPackMesg() frame of %d bytes does not fit %d", len, size);
        return -1;
    }
    std::memcpy(frame, built, static_cast<size_t>(len));
    *frameLen = len;
    return 0;
}

int UnpackFrame(MesgState &m, const unsigned char *frame, int frameLen)
{
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
