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

bool BitSet(const unsigned char bitmap[8], int field)
{
    const int i = field - 1;
    return i >= 0 && i < kFieldCount && (bitmap[i / 8] & (0x80 >> (i % 8))) != 0;
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
    return BitSet(bitmap, field) && CellDef(s, field).used != 0;
}

std::string MessageType(TpSession *s)
{
    // The type is four characters and a NUL.
    char type[8] = {};
    TpGetCell(s, 0, type);
    return type;
}

}  // namespace tranpak::tools
