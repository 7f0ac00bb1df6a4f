#include "message/amount.h"

#include "message/numtext.h"
#include "message/text_check.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tranpak {
namespace {

// Significant digits of a double's decimal expansion that "%.2f" rounds
// from.
constexpr int kSignificant = 17;

}  // namespace

int FormatAmount(double value, char out[kAmountTextSize])
{
    const bool negative = std::signbit(value);
    if (!std::isfinite(value)) {
        const char *text = std::isnan(value) ? (negative ? "-nan" : "nan") : (negative ? "-inf" : "inf");
        std::strcpy(out, text);
        return static_cast<int>(std::strlen(text));
    }

    // d.dddddddddddddddde+XX: the 17 significant digits and the exponent.
    char sci[32];
    auto r = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific, kSignificant - 1);
    *r.ptr = '\0';
    char digits[kSignificant];
    digits[0] = sci[0];
    std::memcpy(digits + 1, sci + 2, kSignificant - 1);
    const int exponent = TextToInt(std::strchr(sci, 'e') + 1);

    // The digit at decimal position k counted from the first significant
    // digit; the point lies after `point` of them.
    const int point = exponent + 1;
    auto digitAt = [&](int k) { return (k >= 0 && k < kSignificant) ? digits[k] - '0' : 0; };

    const int intDigits = point > 0 ? point : 1;
    const int len = (negative ? 1 : 0) + intDigits + 3;  // sign, integer part, ".dd"
    if (len > kAmountTextSize - 1)
        return -1;

    // Integer part and two decimals as one run of digits, then rounded.
    char run[kAmountTextSize + 1];
    int n = 0;
    for (int k = point - intDigits; k < point + 2; ++k)
        run[n++] = static_cast<char>('0' + digitAt(k));
    run[n] = '\0';  // the zero test below reads the run as a text
    bool carry = digitAt(point + 2) >= 5;
    for (int k = n - 1; k >= 0 && carry; --k) {
        if (run[k] == '9') {
            run[k] = '0';
        } else {
            ++run[k];
            carry = false;
        }
    }

    // Rounding may carry into a new leading digit: 99.995 gives 100.00.
    if (len + (carry ? 1 : 0) > kAmountTextSize - 1)
        return -1;
    // An amount that rounds to zero has no sign: -0.001 is "0.00", never
    // "-0.00", which would travel as "-000".
    bool zero = !carry && std::strspn(run, "0") == static_cast<size_t>(n);
    char *p = out;
    if (negative && !zero)
        *p++ = '-';
    if (carry)
        *p++ = '1';
    std::memcpy(p, run, static_cast<size_t>(n - 2));
    p += n - 2;
    *p++ = '.';
    *p++ = run[n - 2];
    *p++ = run[n - 1];
    *p = '\0';
    return static_cast<int>(p - out);
}

int StripDecimalPoint(char *dst, const char *src)
{
    size_t len = std::strlen(src);
    std::memmove(dst, src, len - 3);
    std::memmove(dst + len - 3, src + len - 2, 3);  // last two characters and the NUL
    return 0;
}

int InsertDecimalPoint(char *dst, const char *src)
{
    size_t len = std::strlen(src);
    std::memmove(dst, src, len - 2);
    dst[len - 2] = '.';
    std::memmove(dst + len - 1, src + len - 2, 3);
    return 0;
}

double TextToDouble(const char *text)
{
    bool negative = false;
    const char *p = SkipSpaceAndSign(text, &negative);
    // The longest run of the form digits[.digits] that has at least one digit.
    const char *end = p;
    while (IsCDigit(*end))
        ++end;
    bool anyDigit = end != p;
    if (*end == '.') {
        const char *frac = end + 1;
        while (IsCDigit(*frac))
            ++frac;
        if (anyDigit || frac != end + 1) {
            anyDigit = true;
            end = frac;
        }
    }
    if (!anyDigit)
        return 0.0;
    double value = 0.0;
    std::from_chars(p, end, value, std::chars_format::fixed);
    return negative ? -value : value;
}

}  // namespace tranpak
