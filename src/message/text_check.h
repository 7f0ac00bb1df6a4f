// Trimming of field texts; the content checks are the text classes.
#ifndef TRANPAK_MESSAGE_TEXT_CHECK_H
#define TRANPAK_MESSAGE_TEXT_CHECK_H

#include "kit/text_class.h"

namespace tranpak {

// Removes leading blanks and tabs, in place.
int TrimLeft(char *text);
// Removes the run of trailing blanks (blanks only), in place.
int TrimRight(char *text);

// The separators of track 2 data between the card number and the rest.
inline constexpr char kTrack2Separator = '=';
inline constexpr char kTrack2SeparatorNibble = 'D';

// Z, track 2 data: digits and at most one separator, written '=' or 'D'
// ("4761739001010119=25122011758928889"); 1 when the text passes, 0 when
// it fails; the empty text passes, as it passes the other checks.
int IsTrack2Text(const char *text);

}  // namespace tranpak

#endif
