// The wire dialect a settings file's [Wire Format] section chooses: how a
// message is framed (length, its count, envelope, header) and how its
// type, bitmaps, characters, numbers and length prefixes are written. The
// library, the tools and the trace decoder read a dialect from here and
// frame with it here, so a terminal, a host and a decoder agree by reading
// the same section.
//
// A frame, in the order its parts travel (each part present or not as
// the dialect says):
//
//   [02] [length] [header] type bitmap [bitmap 2] fields [03]
//
//   LENGTH        ASCII4   4 ASCII digits          "0048"       (default)
//                 BINARY2  2 bytes, big-endian     00 30
//                 BINARY2LE 2 bytes, little-endian 30 00
//                 BINARY4  4 bytes, big-endian     00 00 00 30
//                 BCD2     4 digits in 2 bytes     00 48
//                 HEX4     4 hexadecimal digits    "0030"
//                 NONE     no length (the codec only: no socket can frame it)
//   LENGTHCOUNTS  BODY     type, bitmaps and fields (default, the seed's len)
//                 HEADER   the header too
//                 ALL      the length's own bytes too
//   ENVELOPE      STXETX   02 before, 03 after (default); NONE
//   HEADER        ""       none (default)
//                 TPDU:6000030000   5 bytes: id, destination, source
//                 HEX:...  TEXT:... static bytes, checked on receipt
//
// With no [Wire Format] section every value is the default, and the frame
// is the seed's: 02, four ASCII digits, the type, one binary bitmap, ASCII
// fields, 03.
#ifndef TRANPAK_KIT_WIRE_FORMAT_H
#define TRANPAK_KIT_WIRE_FORMAT_H

#include "wire.h"

#include <cstdint>

namespace tranpak::wire {

enum class LengthCode : uint8_t { kAscii4, kBinary2, kBinary2Le, kBinary4, kBcd2, kHex4, kNone };
enum class LengthCounts : uint8_t { kBody, kHeader, kAll };
enum class EnvelopeCode : uint8_t { kStxEtx, kNone };
enum class HeaderCode : uint8_t { kNone, kTpdu, kHex, kText };
enum class MtiCode : uint8_t { kAscii, kBcd, kEbcdic };
enum class BitmapCode : uint8_t { kBinary, kHex };
enum class Charset : uint8_t { kAscii, kEbcdic037, kEbcdic1047 };
enum class NumberCode : uint8_t { kText, kBcd };
enum class PrefixCode : uint8_t { kText, kBcd, kBinary };
// How the bytes of a B field travel: as they are, or as two hexadecimal
// characters each (in the charset), as hosts that send text only want.
enum class BinaryCode : uint8_t { kRaw, kHex };

// A static header or a TPDU: at most 32 bytes.
inline constexpr int kMaxHeaderSize = 32;
inline constexpr int kTpduSize = 5;
// Bytes of the longest length.
inline constexpr int kMaxLengthSize = 4;

struct WireFormat {
    LengthCode length;
    LengthCounts counts;
    EnvelopeCode envelope;
    HeaderCode header;
    MtiCode mti;
    BitmapCode bitmap;
    Charset charset;
    NumberCode numbers;
    PrefixCode prefix;
    BinaryCode binary;
    uint8_t headerLen;                          // bytes of header, 0 for none
    unsigned char headerBytes[kMaxHeaderSize];  // as sent; a TPDU as configured
};

// All zero is the default dialect.
static_assert(static_cast<int>(LengthCode::kAscii4) == 0 && static_cast<int>(EnvelopeCode::kStxEtx) == 0);

// True when the frame is the seed's: 02, four ASCII digits, ASCII type,
// binary bitmap, ASCII fields, 03, nothing else.
bool IsSeedFormat(const WireFormat &format);
// True when the fields themselves are written as the seed writes them
// (ASCII characters, numbers and prefixes as text, B raw).
bool HasSeedFields(const WireFormat &format);

// The keys of [Wire Format], in the order a fault is reported.
inline constexpr int kWireFormatKeyCount = 10;
extern const char *const kWireFormatKeys[kWireFormatKeyCount];
inline constexpr int kWireValueSize = 300;
// The section's texts, as the settings file gives them ("" where a key is
// missing), in the order of kWireFormatKeys.
struct WireFormatTexts {
    char value[kWireFormatKeyCount][kWireValueSize];
};

// Takes the texts into *out. On a value it does not know, returns the
// index of its key (out then holds the defaults up to it); -1 when every
// value was taken.
int ParseWireFormat(const WireFormatTexts &texts, WireFormat *out);
// The index of a key in kWireFormatKeys (compared without regard to ASCII
// case), or -1 for a key it does not know.
int FindWireFormatKey(const char *key);
// One key's value into *out (key compared without regard to ASCII case);
// 0, or -1 for a key or a value it does not know.
int SetWireFormatKey(WireFormat *out, const char *key, const char *value);

// --- Framing -------------------------------------------------------------

// Bytes of the length (0 for NONE).
int LengthSize(const WireFormat &format);
// Bytes before the body (start byte, length, header) and after it (stop).
int FrameHeadSize(const WireFormat &format);
int FrameTailSize(const WireFormat &format);
// The greatest value the length can carry.
int LengthMax(const WireFormat &format);
// Writes the start byte, the length of a body of bodyLen bytes (counted as
// the dialect counts it) and the header given (headerLen bytes) into out,
// FrameHeadSize bytes; false when the length cannot carry the value.
bool PutFrameHead(const WireFormat &format, unsigned char *out, int bodyLen, const unsigned char *header);
// The value of a length's bytes, or -1 when they are no length of the
// code (a digit that is not one).
int ReadLength(const WireFormat &format, const unsigned char *bytes);
// A body length from the length's value, by what it counts; -1 when the
// value is smaller than what it counts besides the body.
int BodyFromLength(const WireFormat &format, int value);

// The smallest and largest body a receiver takes: a type and a bitmap at
// least; a type, two bitmaps as hex and a full data area at most.
inline constexpr int kMinBody = 2 + 8;
inline constexpr int kMaxBody = 4 + 2 * 16 + 2048;
// Room for the longest frame of any dialect.
inline constexpr int kMaxFrameSize = 1 + kMaxLengthSize + kMaxHeaderSize + kMaxBody + 1;

// A frame of the dialect received so far, as ScanPacket looks at the
// seed's: kNeedMore with the fewest bytes the frame can have, kComplete
// with its size, kBad with the fault (kStart, kDigits, kShort, kLong,
// kStop). Scan.len is the body's length once known. A NONE length cannot
// be scanned: kBad with kDigits.
Scan ScanDialect(const WireFormat &format, const unsigned char *bytes, int count);

// A TPDU's destination and source swapped in place, as a reply carries
// them: 60 00 03 00 00 becomes 60 00 00 00 03.
void SwapTpdu(unsigned char tpdu[kTpduSize]);

// --- Characters ----------------------------------------------------------

// The byte of an ASCII character in the charset, or -1 when the charset
// has none for it (EBCDIC: the 95 printable ASCII characters only).
int EncodeChar(Charset charset, unsigned char ascii);
// The ASCII character of a byte of the charset, or -1 when it is outside
// the table.
int DecodeChar(Charset charset, unsigned char byte);

// The value of a hexadecimal digit, either case, or -1.
int HexDigitValue(int c);
// A byte as two upper-case hexadecimal characters in the charset.
void PutHexByte(Charset charset, unsigned char byte, unsigned char out[2]);
// Two hexadecimal characters of the charset as a byte; -1 when one is
// none, *bad then 0 or 1, the one that is not.
int TakeHexByte(Charset charset, const unsigned char in[2], int *bad);

// A dialect's name for the log and the tools: "ASCII4", "BINARY2", ...
const char *LengthName(LengthCode code);

}  // namespace tranpak::wire

#endif
