// Which field types a text passes, by the library's rules: the character
// classes of the C locale for 7-bit characters (letters A-Z and a-z,
// digits, white space the blank and 0x09 to 0x0D); bytes of 0x80 and above
// belong to none. All three pass the empty text.
#ifndef TRANPAK_TOOLS_TEXT_KIND_H
#define TRANPAK_TOOLS_TEXT_KIND_H

#include <string>

namespace tranpak::tools {

bool IsAlphaText(const std::string &text);   // A: letters and white space
bool IsAlnumText(const std::string &text);   // AN: letters, digits and white space
bool IsNumberText(const std::string &text);  // N, NI, NF: optional '+' or '-', then digits

}  // namespace tranpak::tools

#endif
