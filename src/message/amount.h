// Amounts of "NF" fields: a double travels as its hundredths in decimal
// text, 12.50 as "1250", 0.05 as "005", -3.00 as "-300".
#ifndef TRANPAK_MESSAGE_AMOUNT_H
#define TRANPAK_MESSAGE_AMOUNT_H

namespace tranpak {

// Room for the two-decimal text of an amount: 39 characters and a NUL.
inline constexpr int kAmountTextSize = 40;

// Writes value with exactly two decimals, as "%.2f" does, rounding half
// away from zero on its decimal expansion to 17 significant digits: 0.125
// gives "0.13", 2.675 (just below 2.675 as a double) gives "2.67". The
// same on every platform. A value that rounds to zero has no sign (-0.001
// gives "0.00"). Infinities and NaNs give "inf", "-inf", "nan"
// and "-nan". Returns the length, or -1 when the text would not fit
// kAmountTextSize.
int FormatAmount(double value, char out[kAmountTextSize]);

// dst receives src without the character three places before its end (the
// decimal point of a two-decimal text). src has at least 3 characters.
int StripDecimalPoint(char *dst, const char *src);

// dst receives src with a '.' before its last two characters. src has at
// least 2 characters.
int InsertDecimalPoint(char *dst, const char *src);

// Converts a decimal text as the C library's strtod does for plain
// decimals: leading white space, a sign, digits with at most one point;
// conversion stops at the first character that cannot continue the
// number, and 0 when there is none. Independent of the locale.
double TextToDouble(const char *text);

}  // namespace tranpak

#endif
