#include "codec/bitmap.h"

namespace tranpak {

int TestBit(const unsigned char bitmap[8], int i) { return (bitmap[i / 8] & (0x80 >> (i % 8))) != 0 ? 1 : 0; }

int SetBit(unsigned char bitmap[8], int flag, int i)
{
    const unsigned char mask = static_cast<unsigned char>(0x80 >> (i % 8));
    if (flag != 0)
        bitmap[i / 8] |= mask;
    else
        bitmap[i / 8] &= static_cast<unsigned char>(~mask);
    return 0;
}

}  // namespace tranpak
