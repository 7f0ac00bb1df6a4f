// Trimming of field texts; the content checks are the text classes.
#ifndef TRANPAK_MESSAGE_TEXT_CHECK_H
#define TRANPAK_MESSAGE_TEXT_CHECK_H

#include "kit/text_class.h"

namespace tranpak {

// Removes leading blanks and tabs, in place.
int TrimLeft(char *text);
// Removes the run of trailing blanks (blanks only), in place.
int TrimRight(char *text);

}  // namespace tranpak

#endif
