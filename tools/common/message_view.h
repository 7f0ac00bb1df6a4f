// What the tools read of a session's message through the exported
// functions: field definitions, the bitmap of the message last packed or
// received, and its type.
#ifndef TRANPAK_TOOLS_MESSAGE_VIEW_H
#define TRANPAK_TOOLS_MESSAGE_VIEW_H

#include "tranpak.h"

#include <string>

namespace tranpak::tools {

inline constexpr int kFieldCount = 64;

// Field 1 to 64's definition; all zero for any other number.
TpCellDef CellDef(TpSession *s, int field);
// A field the definition file names (it has a length).
inline bool Defined(const TpCellDef &def) { return def.maxlen != 0 || def.varlen != 0; }

// The bit of field n (1 to 64): byte (n-1)/8, mask 0x80 >> (n-1)%8.
bool BitSet(const unsigned char bitmap[8], int field);

// The bitmap of the message last packed or received (zeros when none).
void Bitmap(TpSession *s, unsigned char bitmap[8]);

// A field the message last received carried: its bit is set and it holds
// a value.
bool Received(TpSession *s, int field);

// The message type (field 0), as the message holds it.
std::string MessageType(TpSession *s);

}  // namespace tranpak::tools

#endif
