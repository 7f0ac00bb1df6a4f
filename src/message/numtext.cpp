#include "message/numtext.h"

#include "message/text_check.h"

#include <charconv>
#include <climits>
#include <cstring>

namespace tranpak {

const char *SkipSpaceAndSign(const char *text, bool *negative)
{
    const char *p = text;
    while (IsCSpace(*p))
        ++p;
    *negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    return p;
}

LeadingNumber ReadLeadingNumber(const char *text)
{
    bool negative = false;
    const char *p = SkipSpaceAndSign(text, &negative);
    if (!IsCDigit(*p))
        return {0, false, text};
    int64_t magnitude = 0;
    const int64_t cap = static_cast<int64_t>(INT32_MAX) + 1;
    for (; IsCDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > cap)
            magnitude = cap;
    }
    int64_t v = negative ? -magnitude : magnitude;
    if (v > INT32_MAX)
        v = INT32_MAX;
    return {static_cast<int32_t>(v), true, p};
}

int32_t TextToInt(const char *text) { return ReadLeadingNumber(text).value; }

int32_t FieldToInt(const unsigned char *bytes, int width)
{
    char text[kIntTextSize] = {};
    if (width > kIntTextSize - 1)
        width = kIntTextSize - 1;
    std::memcpy(text, bytes, static_cast<size_t>(width));
    return TextToInt(text);
}

int IntToText(int32_t value, char out[kIntTextSize])
{
    auto r = std::to_chars(out, out + kIntTextSize - 1, value);
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
}

void ZeroFillLeft(char *dst, int width, const char *src, int len, bool keepSign)
{
    int fill = width - len;
    if (keepSign && len > 0 && (src[0] == '+' || src[0] == '-')) {
        *dst++ = *src++;
        --len;
    }
    std::memset(dst, '0', static_cast<size_t>(fill));
    std::memcpy(dst + fill, src, static_cast<size_t>(len));
}

int WriteZeroFilled(char *dst, int width, int32_t value)
{
    char digits[kIntTextSize];
    if (value < 0)
        return -1;
    int len = IntToText(value, digits);
    if (len > width)
        return -1;
    ZeroFillLeft(dst, width, digits, len, false);
    return 0;
}

}  // namespace tranpak
