// Packing the message into a Packet frame and unpacking a received one.
//
//   offset 0     start byte 0x02
//          1     len as four digits, '0'-filled: 12 + data length
//          5     txcode, 4 characters
//          9     bitmap, 8 bytes
//          17    data area: the encoded fields in ascending order, field 64
//                (the MAC) last
//          len+5 stop byte 0x03
//
// Field encodings, from the field's definition:
//   fixed B                 maxlen raw bytes
//   fixed NI, NF, N         maxlen characters, '0'-filled on the left after
//                           any leading sign: -12 in 6 is "-00012"
//   fixed ANS, A, AN        maxlen characters, blank-filled on the right
//   variable (not B)        varlen-digit length prefix, then the text
#ifndef TRANPAK_CODEC_PACKET_H
#define TRANPAK_CODEC_PACKET_H

#include "crypto/des.h"
#include "message/mesg_state.h"

namespace tranpak {

// A frame is shorter than this: len + 6 <= 2047.
inline constexpr int kFrameBufSize = 2048;
// Bytes of a frame that are not txcode, bitmap or data: start, 4 length
// digits, stop.
inline constexpr int kFrameOverhead = wire::kPacketOverhead;
// Packet.len counts txcode and bitmap besides the data area.
inline constexpr int kLenHeader = kTxcodeLen + kBitmapSize;
// Where the data area starts in a frame: after start, length digits,
// txcode and bitmap.
inline constexpr int kDataAt = wire::kPacketHeadSize + kLenHeader;

// Packs the current message with the key and writes its frame to frame;
// frameLen receives len + 6.
int BuildPacket(MesgState &m, DesContext &des, unsigned char frame[kFrameBufSize], const unsigned char key[kMacSize],
                int *frameLen);
// Encodes fields 1 to 63 that are used, the MAC and field 64 into the data
// area; sets the bitmap and Packet.len.
int PackMesg(MesgState &m, DesContext &des, const unsigned char key[kMacSize]);
// Encodes field i+1 at *offset and advances it.
int PktData(MesgState &m, int i, int *offset);
// dst receives src, blank-filled on the right to width characters, NUL
// terminated; a longer src is copied whole.
int PadRight(char *dst, int width, const char *src);

// Decodes every field whose bit is set, from the data area of the message
// state, whose received length is Packet.len - 12.
int UnpackMesg(MesgState &m);
// Decodes field i+1 from src at *offset into its record and advances
// *offset; nothing at or beyond limit is read.
int UnpackCell(MesgState &m, int i, const unsigned char *src, int *offset, int limit);
// Tests the buf of record i against its type; a failure names the frame
// offset given, where the value was received (-1: none).
int CheckCellContent(MesgState &m, int i, int frameOffset = -1);

}  // namespace tranpak

#endif
