// The two kinds of frame the host reads and writes:
//
//   02 <4 digits len> <len bytes: type, bitmap, data> 03    a Packet
//   06 <type '0'..'4'> <4 digits n> <n body bytes>           a file frame
#ifndef TRANPAK_TOOLS_WIRE_H
#define TRANPAK_TOOLS_WIRE_H

namespace tranpak::tools {

inline constexpr unsigned char kPacketStart = 0x02;
inline constexpr unsigned char kPacketStop = 0x03;
inline constexpr int kLenDigits = 4;
// Smallest and largest len of a Packet, as the library takes them: type
// and bitmap (12 bytes) and field 64 (8), up to what its buffer holds.
inline constexpr int kMinPacketLen = 20;
inline constexpr int kMaxPacketLen = 2047;
// Start byte, length digits and stop byte around the len bytes.
inline constexpr int kPacketOverhead = 6;
inline constexpr int kPacketBufSize = kMaxPacketLen + kPacketOverhead;

inline constexpr unsigned char kFileStart = 0x06;
inline constexpr int kFileHeadSize = 6;
inline constexpr int kFileBodySize = 1024;

}  // namespace tranpak::tools

#endif
