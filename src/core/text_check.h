// Content checks and trimming of field texts. Character classes are those
// of the C locale for 7-bit characters: letters A-Z and a-z, digits 0-9,
// white space the blank and 0x09 to 0x0D. Bytes of 0x80 and above belong
// to no class, whatever the process's locale.
#ifndef TRANPAK_CORE_TEXT_CHECK_H
#define TRANPAK_CORE_TEXT_CHECK_H

namespace tranpak {

bool IsCLetter(char c);
bool IsCDigit(char c);
bool IsCSpace(char c);

// 1 when the text passes, 0 when it fails; all three pass the empty text.
int IsAlphaText(const char *text);   // letters and white space
int IsAlnumText(const char *text);   // letters, digits and white space
int IsNumberText(const char *text);  // optional leading '+' or '-', then digits only

// Removes leading blanks and tabs, in place.
int TrimLeft(char *text);
// Removes the run of trailing blanks (blanks only), in place.
int TrimRight(char *text);

}  // namespace tranpak

#endif
