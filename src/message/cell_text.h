// Text access to fields of every type, with the caller's room known: what
// TpSetCellText and TpGetCellText do.
//
//   type   text in and out                     stored in buf
//   NI     "-2147483648"                       "-2147483648"
//   NF     "12.5" in, "12.50" out              "1250" (hundredths)
//   B      "00FF10..." (2 x maxlen hex digits) maxlen raw bytes
//   var B  "9F2701..." (2 hex digits a byte)   the raw bytes, binlen of them
//   Z      "4761...=2512..." (digits, one '=' or 'D')  the text
//   others the text, trimmed as SetCell trims  the text
#ifndef TRANPAK_MESSAGE_CELL_TEXT_H
#define TRANPAK_MESSAGE_CELL_TEXT_H

#include "message/mesg_state.h"

#include <cstring>

namespace tranpak {

// Room for any value as text and its NUL: 400 raw bytes as 800 hex digits
// is the longest (an amount of 399 characters grows by its point only).
inline constexpr int kCellTextSize = 2 * kBinMaxLen + 1;

// A field the definitions list: it has a length. A field they do not list
// has none (type 0, maxlen 0, varlen 0) and cannot travel.
inline bool CellDefined(const BMPCell &cell) { return cell.maxlen != 0 || cell.varlen != 0; }

// Length of a text in a fixed array, never more than limit even when the
// array holds no NUL within it.
inline int BoundedTextLength(const char *text, int limit)
{
    const void *nul = std::memchr(text, 0, static_cast<size_t>(limit));
    return nul == nullptr ? limit : static_cast<int>(static_cast<const char *>(nul) - text);
}

// The definition file's name of a type code; nullptr for a code that is
// none of the eight.
const char *CellTypeName(int type);

// Sets field 0 to 128 from text by its type; refuses, leaving the field as
// it was, a text that does not give a value of the type exactly, and a
// field the definitions do not list.
int SetCellText(MesgState &m, int field, const char *text);

// The value of field 0 to 128 as text into text[0..size), NUL included;
// refuses a field not in use and a size too small (writing nothing).
int GetCellText(MesgState &m, int field, char *text, int size);

// The value of field 0 to 128 as GetCellText gives it, without logging:
// returns its length, or -1 when the field is not in use or its stored
// text is not a number of its type (an NI beyond 32 bits among them).
int CellText(const MesgState &m, int field, char out[kCellTextSize]);

}  // namespace tranpak

#endif
