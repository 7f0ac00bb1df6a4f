// How the tools show values to people: control bytes escaped, card data
// masked (both by the library's one rule, TpShowValue), JSON strings quoted.
#ifndef TRANPAK_TOOLS_SHOWN_TEXT_H
#define TRANPAK_TOOLS_SHOWN_TEXT_H

#include <set>
#include <string>

namespace tranpak::tools {

// Fields that hold card data and are masked unless asked otherwise:
// card number, expiry, track 2, track 3, track 1, PIN block (the fields
// TpShowValue masks).
const std::set<int> &DefaultMaskedFields();

// "2,14,35" to field numbers 1 to 128; false for anything else (empty
// items, blanks, signs, numbers out of range).
bool ParseFieldList(const std::string &text, std::set<int> *fields);

// All but the last four characters as '*' (all of them when four or
// fewer), the last four then escaped as Escaped does: a masked value as
// TpDescribe shows it.
std::string Mask(const std::string &value);

// Bytes below 0x20, 0x7F and above as \xHH; a backslash as \\; the rest
// as it is, so a value can neither break a line nor forge one.
std::string Escaped(const std::string &value);

// Bytes below 0x20, 0x7F and above as \xHH, a backslash as it is: for
// the library's reasons and log lines, whose control bytes already are
// \xHH, so those escapes are not doubled.
std::string ControlsEscaped(const std::string &text);

// The value as a JSON string, quotes included: ", \ and every byte below
// 0x20 or from 0x7F escaped (\u00HH), so the output is ASCII.
std::string JsonString(const std::string &value);

}  // namespace tranpak::tools

#endif
