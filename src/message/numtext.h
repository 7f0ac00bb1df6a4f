// Decimal text conversions shared by the whole library. Numbers on the wire
// and in the definition file are ASCII decimal; these routines read them
// the lenient way the C library's atoi does, without its undefined
// behaviour on overflow, and write them filled on the left with '0'.
#ifndef TRANPAK_MESSAGE_NUMTEXT_H
#define TRANPAK_MESSAGE_NUMTEXT_H

#include <cstddef>
#include <cstdint>

namespace tranpak {

// Result of reading a number at the start of a text.
struct LeadingNumber {
    int32_t value;    // saturated at the int32 limits; 0 when nothing was found
    bool found;       // at least one digit was read
    const char *end;  // first character after the number (text itself if none)
};

// Skips leading white space (blank and 0x09 to 0x0D) and one '+' or '-';
// returns where the digits start and whether the sign was '-'.
const char *SkipSpaceAndSign(const char *text, bool *negative);

// Reads an optionally signed decimal integer: leading white space (blank
// and 0x09 to 0x0D) is skipped, then one '+' or '-', then digits up to the
// first non-digit.
LeadingNumber ReadLeadingNumber(const char *text);

// The value of ReadLeadingNumber, or 0: what atoi gives for in-range input.
int32_t TextToInt(const char *text);

// Reads the first `width` bytes of a not necessarily terminated field (such
// as four length digits on the wire) as TextToInt does; a NUL ends it early.
int32_t FieldToInt(const unsigned char *bytes, int width);

// Writes value as decimal text with a NUL into out; returns its length.
// out must hold 12 bytes.
inline constexpr int kIntTextSize = 12;
int IntToText(int32_t value, char out[kIntTextSize]);

// Writes the len bytes of src right-justified in exactly `width` bytes at
// dst, filled on the left with '0' (no NUL is added). With keepSign, a
// leading '+' or '-' of src goes first and the fill comes after it, so -12
// in 6 gives -00012. The caller ensures len <= width.
void ZeroFillLeft(char *dst, int width, const char *src, int len, bool keepSign);

// Writes value in exactly `width` decimal digits filled with '0' (no NUL).
// Returns -1, writing nothing, when value is negative or needs more digits.
int WriteZeroFilled(char *dst, int width, int32_t value);

}  // namespace tranpak

#endif
