// Single DES encryption of one 64-bit block (FIPS 46-3), used for the
// message authentication code.
#ifndef TRANPAK_PACKET_DES_H
#define TRANPAK_PACKET_DES_H

#include <cstdint>

namespace tranpak {

inline constexpr int kDesBlockSize = 8;
inline constexpr int kDesRounds = 16;

// One round key: the 48 bits in two words of four 6-bit groups, in the
// order the round function takes them.
struct DesRoundKey {
    uint32_t even;
    uint32_t odd;
};

// The round keys of the last key used, kept by the caller (a terminal sends
// and checks many messages under one key, and the schedule costs more than
// the block). All zero is empty.
struct DesContext {
    bool valid;
    unsigned char key[kDesBlockSize];
    DesRoundKey subkeys[kDesRounds];
};

// Encrypts input under key into output. All 64 key bits are taken in; the
// 8 parity bits do not affect the result. The context keeps the round keys,
// so blocks under one key pay for its schedule once. Returns 0.
int DesBlock(DesContext &ctx, const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize],
             const unsigned char key[kDesBlockSize]);
// The same with a schedule of its own, kept nowhere.
int DesBlock(const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize],
             const unsigned char key[kDesBlockSize]);

}  // namespace tranpak

#endif
