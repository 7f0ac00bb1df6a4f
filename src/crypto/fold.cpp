#include "crypto/fold.h"

#include <cstdint>
#include <cstring>

namespace tranpak {

int XorBlock(unsigned char acc[kFoldSize], const unsigned char block[kFoldSize])
{
    for (int i = 0; i < kFoldSize; ++i)
        acc[i] ^= block[i];
    return 0;
}

void FoldMac(const unsigned char *data, int n, unsigned char acc[kFoldSize])
{
    // XOR works byte by byte, so eight bytes fold as one word in any byte order.
    uint64_t word = 0x3030303030303030u;  // "00000000"
    uint64_t block;
    int offset = 0;
    // Four blocks a turn into four words, so the turns do not wait on each other.
    // The bytes left are counted as n - offset, which cannot overflow the
    // way offset + 32 does for a length within 32 of INT_MAX (TpMac takes
    // any length).
    uint64_t more[3] = {};
    for (; n - offset >= 4 * kFoldSize; offset += 4 * kFoldSize) {
        uint64_t four[4];
        std::memcpy(four, data + offset, sizeof four);
        word ^= four[0];
        more[0] ^= four[1];
        more[1] ^= four[2];
        more[2] ^= four[3];
    }
    word ^= more[0] ^ more[1] ^ more[2];
    for (; n - offset >= kFoldSize; offset += kFoldSize) {
        std::memcpy(&block, data + offset, kFoldSize);
        word ^= block;
    }
    if (offset < n) {
        // The last partial block is filled with zero bytes.
        block = 0;
        std::memcpy(&block, data + offset, static_cast<size_t>(n - offset));
        word ^= block;
    }
    std::memcpy(acc, &word, kFoldSize);
}

}  // namespace tranpak
