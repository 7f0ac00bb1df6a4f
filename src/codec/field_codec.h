// How one field travels, learnt from its record in this one place: what
// its content is, whether its length is fixed or comes in a prefix (and of
// how many digits), how a short fixed value is padded, and how characters
// and the prefix are written. pack.cpp and unpack.cpp write and read a
// field only through this description; the records (BMPCell) stay as the
// definition file gives them.
//
//   record            content  prefix           pad
//   fixed B           binary   none             none (maxlen raw bytes)
//   fixed NI, NF, N   number   none             '0' on the left, after a sign
//   fixed ANS, A, AN  text     none             blanks on the right
//   variable, not B   its own  varlen digits    none
//
// A wire dialect adds its encodings (the characters), prefix kinds and
// padding as values of these enumerations, chosen per field from data
// kept beside the records, and FieldCodecOf reads them there.
#ifndef TRANPAK_CODEC_FIELD_CODEC_H
#define TRANPAK_CODEC_FIELD_CODEC_H

#include "message/mesg_state.h"
#include "message/numtext.h"

#include <cstdint>
#include <cstring>

namespace tranpak {

// kTrack: track 2 data, digits and a separator ('=' or 'D').
enum class FieldContent : uint8_t { kText, kNumber, kBinary, kTrack };
// How the characters of a text or number travel.
enum class FieldEncoding : uint8_t { kAscii };
// How a variable field's length travels before it.
enum class PrefixKind : uint8_t { kNone, kAsciiDigits };
// How a fixed field's value shorter than the field is filled.
enum class FieldPad : uint8_t { kNone, kZeroLeft, kBlankRight };

struct FieldCodec {
    FieldContent content;
    FieldEncoding encoding;
    PrefixKind prefix;
    FieldPad pad;
    int prefixDigits;  // digits of the length prefix; 0 for a fixed length
    int maxlen;        // the fixed length, or the greatest variable one
};

// What a record's type says of its content and of the padding of a fixed
// field, by type code (a code outside the table reads as text).
struct TypeCodec {
    FieldContent content;
    FieldPad fixedPad;
};
inline constexpr TypeCodec kTypeCodecs[] = {
    {FieldContent::kText, FieldPad::kBlankRight},  // ANS
    {FieldContent::kNumber, FieldPad::kZeroLeft},  // NI
    {FieldContent::kNumber, FieldPad::kZeroLeft},  // NF
    {FieldContent::kText, FieldPad::kBlankRight},  // A
    {FieldContent::kText, FieldPad::kBlankRight},  // AN
    {FieldContent::kNumber, FieldPad::kZeroLeft},  // N
    {FieldContent::kBinary, FieldPad::kNone},      // B
    {FieldContent::kTrack, FieldPad::kNone},       // Z: a fixed one is sent whole, never filled
};
static_assert(sizeof kTypeCodecs / sizeof kTypeCodecs[0] == kTypeZ + 1);

// The description of the field whose record is cell.
inline FieldCodec FieldCodecOf(const BMPCell &cell)
{
    const TypeCodec t = static_cast<uint32_t>(cell.type) <= static_cast<uint32_t>(kTypeZ)
                            ? kTypeCodecs[cell.type]
                            : TypeCodec{FieldContent::kText, FieldPad::kBlankRight};
    const bool fixed = cell.varlen == 0;
    FieldCodec fc;
    fc.content = t.content;
    fc.encoding = FieldEncoding::kAscii;
    fc.prefix = fixed ? PrefixKind::kNone : PrefixKind::kAsciiDigits;
    fc.pad = fixed ? t.fixedPad : FieldPad::kNone;
    fc.prefixDigits = cell.varlen;
    fc.maxlen = cell.maxlen;
    return fc;
}

// Bytes the length prefix takes on the wire.
inline int PrefixSize(const FieldCodec &fc) { return fc.prefixDigits; }

// True when a value of len fits the prefix.
inline bool PrefixFits(const FieldCodec &fc, int len, int *digitsNeeded)
{
    int digits = 1;
    for (int v = len; v >= 10; v /= 10)
        ++digits;
    *digitsNeeded = digits;
    return digits <= fc.prefixDigits;
}

// Writes len as the prefix, in exactly PrefixSize bytes; the caller has
// made sure it fits.
inline void WritePrefix(const FieldCodec &fc, char *out, int len)
{
    for (int k = fc.prefixDigits - 1; k >= 0; --k) {
        out[k] = static_cast<char>('0' + len % 10);
        len /= 10;
    }
}

// Reads the prefix at in into *value (up to 11 digits, so int64); false
// when a byte is not a digit: a blank, a sign or any other character
// means the message is not framed as its definition says.
inline bool ReadPrefix(const FieldCodec &fc, const unsigned char *in, int64_t *value)
{
    int64_t v = 0;
    for (int k = 0; k < fc.prefixDigits; ++k) {
        const unsigned digit = static_cast<unsigned>(in[k]) - '0';
        if (digit > 9)
            return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

// Writes the len bytes of a value into a fixed field of maxlen bytes at
// out, filled by the field's pad rule; len is at most maxlen.
inline void WriteFixedValue(const FieldCodec &fc, char *out, const char *value, int len)
{
    switch (fc.pad) {
    case FieldPad::kZeroLeft:
        ZeroFillLeft(out, fc.maxlen, value, len, true);
        return;
    case FieldPad::kBlankRight:
        std::memcpy(out, value, static_cast<size_t>(len));
        std::memset(out + len, ' ', static_cast<size_t>(fc.maxlen - len));
        return;
    case FieldPad::kNone:
        std::memcpy(out, value, static_cast<size_t>(len));
        return;
    }
}

}  // namespace tranpak

#endif
