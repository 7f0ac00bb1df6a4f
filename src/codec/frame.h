// A Packet's frame around the packed message, without a socket: the head
// (start byte, four length digits) checked by the one wire scanner
// (wire::ScanPacket), its faults worded from one table; the body (type,
// bitmap, data, stop byte) taken into the message state and unpacked.
//
//   02 30 30 34 38                head: start byte and len 48
//   30 32 30 30 .. 03             len + 1 bytes: txcode, bitmap, data, stop
#ifndef TRANPAK_CODEC_FRAME_H
#define TRANPAK_CODEC_FRAME_H

#include "codec/dialect.h"
#include "codec/packet.h"
#include "crypto/des.h"
#include "kit/wire.h"
#include "message/mesg_state.h"

#include <cstring>

namespace tranpak {

inline constexpr int kFrameHeadSize = wire::kPacketHeadSize;
// Smallest len: txcode, bitmap and the 8 bytes of field 64.
inline constexpr int kMinFrameLen = kLenHeader + kMacSize;
static_assert(kMinFrameLen == wire::kMinPacketLen);
// Largest len whose remaining len + 1 bytes fit the receive buffer.
inline constexpr int kMaxFrameLen = kFrameBufSize - 1;
static_assert(kMaxFrameLen == wire::kMaxPacketLen);

// The start byte and len of a frame's first five bytes, into the Packet,
// checked; a fault is logged as it always was. Length digits that are not
// four decimal digits are read as the number test and atoi read them.
bool TakeHead(MesgState &m, const unsigned char head[kFrameHeadSize]);
// Logs a stop byte that is not 0x03 from the scanner's table; returns -1.
int RefuseStop(MesgState &m, int len, int stop);
// The len + 1 bytes after a head TakeHead or the scanner passed: txcode,
// bitmap, data and the stop byte; then the fields. Inline: it is on the
// path of every received frame.
inline int TakeBody(MesgState &m, const unsigned char *body)
{
    Packet &p = m.packet;
    // A bitmap whose bit 1 announces a secondary one: the dialect codec
    // reads the seed's frame with two bitmaps.
    if (AnnouncesSecondary(m, body + kTxcodeLen)) [[unlikely]]
        return UnpackDialectFrame(m, body - kFrameHeadSize, p.len + kFrameOverhead);
    std::memcpy(p.txcode, body, kTxcodeLen);
    p.txcode[kTxcodeLen] = '\0';
    std::memcpy(p.bitmap, body + kTxcodeLen, kBitmapSize);
    std::memcpy(p.data, body + kLenHeader, static_cast<size_t>(p.len - kLenHeader));
    p.stop = body[p.len];
    if (p.stop != wire::kPacketStop)
        return RefuseStop(m, p.len, p.stop);
    return UnpackMesg(m);
}

// Room for the frame of any dialect.
inline constexpr int kAnyFrameSize = wire::kMaxFrameSize;

// The frame of the message in the session's dialect, the MAC under key:
// the seed's frame (BuildPacket) or the dialect codec's.
int BuildFrame(MesgState &m, DesContext &des, const unsigned char *key, unsigned char frame[kAnyFrameSize],
               int *frameLen);

// The frame SockSendMesg would send, into frame (size bytes of room), and
// its length into *frameLen; nothing is traced.
int PackFrame(MesgState &m, DesContext &des, const void *key, unsigned char *frame, int size, int *frameLen);
// What SockRecvMesg does with a frame of frameLen bytes once read; a
// frameLen other than the frame's own is refused.
int UnpackFrame(MesgState &m, const unsigned char *frame, int frameLen);

}  // namespace tranpak

#endif
