// The 8-byte presence bitmap: the bit of field n (index i = n-1) is in
// byte i/8 under the mask 0x80 >> i%8, so field 1 is the top bit of byte 0
// and field 64 the bottom bit of byte 7.
//
// Read as one big-endian word, the bitmap has field 1 in bit 63 and field
// 64 in bit 0: 70 00 00 00 00 00 00 01 is fields 2, 3, 4 and 64.
#ifndef TRANPAK_CODEC_BITMAP_H
#define TRANPAK_CODEC_BITMAP_H

#include <bit>
#include <cstdint>
#include <cstring>

namespace tranpak {

// 1 if the bit of index i is set, else 0.
int TestBit(const unsigned char bitmap[8], int i);
// Sets the bit of index i when flag is non-zero, clears it otherwise.
int SetBit(unsigned char bitmap[8], int flag, int i);

inline uint64_t ByteSwap64(uint64_t v)
{
#if defined(__GNUC__)
    return __builtin_bswap64(v);
#else
    v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
    v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
    return (v << 32) | (v >> 32);
#endif
}

// The bit of index i in the bitmap word.
inline constexpr uint64_t BitmapBit(int i) { return uint64_t{1} << (63 - i); }

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);

inline uint64_t LoadBitmap(const unsigned char bitmap[8])
{
    uint64_t bits;
    std::memcpy(&bits, bitmap, sizeof bits);
    if constexpr (std::endian::native == std::endian::little)
        bits = ByteSwap64(bits);
    return bits;
}

inline void StoreBitmap(uint64_t bits, unsigned char bitmap[8])
{
    if constexpr (std::endian::native == std::endian::little)
        bits = ByteSwap64(bits);
    std::memcpy(bitmap, &bits, sizeof bits);
}

}  // namespace tranpak

#endif
