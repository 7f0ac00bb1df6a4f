// Character classes of field texts, shared by the library and its tools:
// those of the C locale for 7-bit characters (letters A-Z and a-z, digits
// 0-9, white space the blank and 0x09 to 0x0D). Bytes of 0x80 and above
// belong to no class, whatever the process's locale. A text is read up to
// its NUL.
#ifndef TRANPAK_KIT_TEXT_CLASS_H
#define TRANPAK_KIT_TEXT_CLASS_H

namespace tranpak {

bool IsCLetter(char c);
bool IsCDigit(char c);
bool IsCSpace(char c);

// 1 when the text passes, 0 when it fails; all three pass the empty text.
int IsAlphaText(const char *text);   // A: letters and white space
int IsAlnumText(const char *text);   // AN: letters, digits and white space
int IsNumberText(const char *text);  // N, NI, NF: optional leading '+' or '-', then digits only

}  // namespace tranpak

#endif
