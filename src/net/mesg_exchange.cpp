// Sending and receiving one Packet on a connection.
//
// A received frame is read in exactly two parts, so packets that follow on
// the same connection stay for later calls:
//   02 30 30 34 38                header: start byte and len 48
//   30 32 30 30 .. 03             len + 1 bytes: txcode, bitmap, data, stop
#include "core/mesg_state.h"
#include "core/numtext.h"
#include "core/text_check.h"
#include "diag/ctrace.h"
#include "diag/errlog.h"
#include "net/net.h"
#include "packet/packet.h"
#include "tranpak.h"

#include <cstring>

namespace tranpak {
namespace {

constexpr int kHeadSize = 1 + kLenDigits;
// Smallest len: txcode, bitmap and the 8 bytes of field 64.
constexpr int kMinLen = kLenHeader + kMacSize;
// Largest len whose remaining len + 1 bytes fit the receive buffer.
constexpr int kMaxLen = kFrameBufSize - 1;

void Trace(const char *label, const void *bytes, int count)
{
    if (g_mesg.settings.traceflag)
        WriteComTrace(label, bytes, count);
}

// Receives exactly count bytes. A short count is logged with `format` and
// what did arrive is traced; the whole is traced when it all arrived.
bool RecvTraced(int sock, unsigned char *buf, int count, const FrameDeadline &deadline, const char *label,
                const char *format)
{
    int rc = RecvAll(sock, buf, count, &deadline);
    if (rc != count) {
        WriteErrLog(kErrPeerClosed, format, rc);
        if (rc > 0)
            Trace(label, buf, rc);
        return false;
    }
    Trace(label, buf, count);
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

}  // namespace
}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL SockSendMesg(int sock, const void *key)
{
    ExportedCall call;
    if (key == nullptr) {
        WriteErrLog(kErrArgument, "tranpak: SockSendMesg() key is NULL");
        return -1;
    }
    static unsigned char frame[kFrameBufSize];
    int frameLen = 0;
    if (BuildPacket(frame, static_cast<const unsigned char *>(key), &frameLen) != 0)
        return -1;
    FrameDeadline deadline(g_mesg.settings.sendLimit, "send");
    int rc = SendAll(sock, frame, frameLen, &deadline);
    if (rc == frameLen) {
        Trace("send mesg body", frame, frameLen);
        return 0;
    }
    WriteErrLog(kErrPeerClosed, "tranpak: write socket rc: %d, iPktLen: %d", rc, frameLen);
    if (rc > 0)
        Trace("send mesg body", frame, rc);
    return -1;
}

extern "C" TRANPAK_API int TRANPAK_CALL SockRecvMesg(int sock, int)
{
    ExportedCall call;
    static unsigned char buf[kFrameBufSize];
    // One deadline for the whole frame, from the start of the call.
    FrameDeadline deadline(g_mesg.settings.recvLimit, "recv");
    Packet &p = g_mesg.packet;
    ResetMesg();

    if (!RecvTraced(sock, buf, kHeadSize, deadline, "recv mesg head", "tranpak: read mesg_head rc = %d"))
        return -1;

    p.start = buf[0];
    if (p.start != kStartByte) {
        WriteErrLog(kErrMalformed, "tranpak: Packet.start = 0x%02X", p.start);
        return -1;
    }
    if (!FourDigits(buf + 1, &p.len)) {
        // Anything but four digits reads as the number test and atoi read it.
        char digits[kLenDigits + 1] = {};
        std::memcpy(digits, buf + 1, kLenDigits);
        if (!IsNumberText(digits)) {
            WriteErrLog(kErrMalformed, "tranpak: Packet.len not number, buf:%s", digits);
            return -1;
        }
        p.len = TextToInt(digits);
    }
    if (p.len < kMinLen) {
        WriteErrLog(kErrMalformed, "tranpak: Packet.len = %d, too short", p.len);
        return -1;
    }
    if (p.len > kMaxLen) {
        WriteErrLog(kErrMalformed, "tranpak: Packet.len = %d, too long", p.len);
        return -1;
    }

    if (!RecvTraced(sock, buf, p.len + 1, deadline, "recv mesg data", "tranpak: read mesg buf rc = %d"))
        return -1;

    std::memcpy(p.txcode, buf, kTxcodeLen);
    p.txcode[kTxcodeLen] = '\0';
    std::memcpy(p.bitmap, buf + kTxcodeLen, kBitmapSize);
    std::memcpy(p.data, buf + kLenHeader, static_cast<size_t>(p.len - kLenHeader));
    p.stop = buf[p.len];
    if (p.stop != kStopByte) {
        WriteErrLog(kErrMalformed, "tranpak: Packet.stop = 0x%02X", p.stop);
        return -1;
    }
    return UnpackMesg();
}
