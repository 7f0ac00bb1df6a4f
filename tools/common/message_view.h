// What the tools read of a session's message through the exported
// functions: field definitions, the bitmap of the message last packed or
// received, and its type.
#ifndef TRANPAK_TOOLS_MESSAGE_VIEW_H
#define TRANPAK_TOOLS_MESSAGE_VIEW_H

#include "tranpak.h"

#include <string>
#include <vector>

namespace tranpak::tools {

// Fields 1 to 128; 1 to 64 those of the primary bitmap, whose bit 1
// announces a secondary bitmap for fields 65 to 128.
inline constexpr int kFieldCount = 128;
inline constexpr int kPrimaryFieldCount = 64;

// Field 1 to 128's definition; all zero for any other number.
TpCellDef CellDef(TpSession *s, int field);
// Field 1 to 128's type code (CELL_ANS for the message type, field 0, and
// for a field not defined), as TpGetCellType gives it for 1 to 64.
int FieldType(TpSession *s, int field);
// A field the definition file names (it has a length).
inline bool Defined(const TpCellDef &def) { return def.maxlen != 0 || def.varlen != 0; }

// The bit of field n (1 to 64) in a bitmap of 8 bytes: byte (n-1)/8, mask
// 0x80 >> (n-1)%8; false for any other number.
bool BitSet(const unsigned char bitmap[8], int field);

// The bitmap of the message last packed or received (zeros when none).
void Bitmap(TpSession *s, unsigned char bitmap[8]);

// A field the message last received carried: its bit is set and it holds
// a value. A field 65 to 128 has its bit in the secondary bitmap, which
// bit 1 announces: it was received when bit 1 is set and it holds a value.
bool Received(TpSession *s, int field);

// The fields the message last received carried, in order: the bits of its
// bitmap, bit 1 standing for the fields 65 to 128 that hold a value unless
// field 1 itself does.
std::vector<int> ReceivedFields(TpSession *s);

// The message type (field 0), as the message holds it.
std::string MessageType(TpSession *s);

}  // namespace tranpak::tools

#endif
