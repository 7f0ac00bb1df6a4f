// The codec of every wire dialect other than the seed's (kit/wire_format.h)
// and of messages with a secondary bitmap: each field, the type, the
// bitmaps and the frame around them, written and read by the dialect the
// session's settings hold. The seed's own frame with one bitmap keeps its
// path (pack.cpp, unpack.cpp), which writes exactly what this one writes
// for that frame.
//
// A field's value as it travels, by content and dialect:
//
//   text (ANS, A, AN)   one byte a character, in the charset
//   number (N, NI, NF)  NUMBERS=TEXT: characters; NUMBERS=BCD: two digits
//                       a byte, an odd count led by a 0 nibble, a sign as
//                       a first nibble C (+) or D (-) counted as a digit:
//                       "-00012" is D0 00 12
//   track 2 (Z)         as numbers; the separator '=' or 'D' is the nibble D
//   binary (B)          BINARY=RAW: the bytes; BINARY=HEX: two hexadecimal
//                       characters a byte, in the charset
//
// A variable field's prefix gives the value's length in characters,
// digits (BCD numbers and track 2) or bytes (B), with the definition's
// digits: 19,2 is two characters (PREFIX=TEXT), one BCD byte or one
// binary byte; 999,3 two bytes under BCD or BINARY.
#ifndef TRANPAK_CODEC_DIALECT_H
#define TRANPAK_CODEC_DIALECT_H

#include "codec/field_codec.h"
#include "crypto/des.h"
#include "kit/wire_format.h"
#include "message/mesg_state.h"

namespace tranpak {

// True when the message just built goes through this codec: a dialect
// other than the seed's, or a field of 65 to 127 written (a secondary
// bitmap).
bool UsesDialectCodec(const MesgState &m);
// True when a received bitmap's bit 1 announces a secondary bitmap: bit 1
// set and field 1 not defined as a data field.
inline bool AnnouncesSecondary(const MesgState &m, const unsigned char bitmap[kBitmapSize])
{
    const BMPCell &first = m.cells[0];
    return (bitmap[0] & 0x80) != 0 && first.maxlen == 0 && first.varlen == 0;
}

// Bytes the value of count characters, digits or bytes takes on the wire.
int DialectValueSize(const FieldCodec &fc, const wire::WireFormat &f, int count);
// Bytes of the prefix.
int DialectPrefixSize(const FieldCodec &fc, const wire::WireFormat &f);

// Encodes field i+1 at data offset *offset and advances it.
int PackDialectField(MesgState &m, int i, int *offset);
// Decodes field i+1 from data at *offset (nothing at or beyond limit is
// read) into its record and advances *offset; *valueAt receives the data
// offset of its value. A failure names the field and the frame offset
// (the data starts at frame offset m.wireState.dataAt).
int UnpackDialectField(MesgState &m, int i, const unsigned char *data, int *offset, int limit, int *valueAt);

// The whole frame of the message in the session's dialect into frame
// (size bytes of room), with its MAC under key.
int BuildDialectFrame(MesgState &m, DesContext &des, const unsigned char *key, unsigned char *frame, int size,
                      int *frameLen);
// A received frame of frameLen bytes in the session's dialect (or the
// seed's with a secondary bitmap), into the message state.
int UnpackDialectFrame(MesgState &m, const unsigned char *frame, int frameLen);
// Logs what the dialect's scanner found wrong with a frame's head; -1.
int RefuseScan(MesgState &m, const wire::Scan &scan, const unsigned char *frame);

}  // namespace tranpak

#endif
