#include "message_view.h"

#include <cstring>

namespace tranpak::tools {

TpCellDef CellDef(TpSession *s, int field)
{
    TpCellDef def{};
    if (field < 1 || field > kFieldCount || TpGetCellDef(s, field, &def) < 0)
        def = TpCellDef{};
    return def;
}

int FieldType(TpSession *s, int field) { return field == 0 ? CELL_ANS : CellDef(s, field).type; }

bool BitSet(const unsigned char bitmap[8], int field)
{
    const int i = field - 1;
    return i >= 0 && i < kPrimaryFieldCount && (bitmap[i / 8] & (0x80 >> (i % 8))) != 0;
}

void Bitmap(TpSession *s, unsigned char bitmap[8])
{
    if (TpGetBitmap(s, bitmap) != 0)
        std::memset(bitmap, 0, 8);
}

bool Received(TpSession *s, int field)
{
    unsigned char bitmap[8];
    Bitmap(s, bitmap);
    const int bit = field > kPrimaryFieldCount ? 1 : field;
    return BitSet(bitmap, bit) && CellDef(s, field).used != 0;
}

std::vector<int> ReceivedFields(TpSession *s)
{
    unsigned char bitmap[8];
    Bitmap(s, bitmap);
    std::vector<int> fields;
    const bool secondary = BitSet(bitmap, 1) && CellDef(s, 1).used == 0;
    for (int field = secondary ? 2 : 1; field <= kPrimaryFieldCount; ++field)
        if (BitSet(bitmap, field))
            fields.push_back(field);
    for (int field = kPrimaryFieldCount + 1; secondary && field <= kFieldCount; ++field)
        if (CellDef(s, field).used != 0)
            fields.push_back(field);
    return fields;
}

std::string MessageType(TpSession *s)
{
    // The type is four characters and a NUL.
    char type[8] = {};
    TpGetCell(s, 0, type);
    return type;
}

}  // namespace tranpak::tools
