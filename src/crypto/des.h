// DES (FIPS 46-3) on one 64-bit block, used for the message authentication
// codes: single DES for the library's own MAC, and the round keys and both
// directions that triple DES (encrypt, decrypt, encrypt) is built from.
#ifndef TRANPAK_CRYPTO_DES_H
#define TRANPAK_CRYPTO_DES_H

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
// The same with a schedule of its own, wiped before returning.
int DesBlock(const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize],
             const unsigned char key[kDesBlockSize]);

// The 16 round keys of an 8-byte key.
void DesKeySchedule(const unsigned char key[kDesBlockSize], DesRoundKey subkeys[kDesRounds]);
// One block under round keys made by DesKeySchedule; decryption runs them
// backwards. input and output may be the same bytes.
void DesEncrypt(const DesRoundKey subkeys[kDesRounds], const unsigned char input[kDesBlockSize],
                unsigned char output[kDesBlockSize]);
void DesDecrypt(const DesRoundKey subkeys[kDesRounds], const unsigned char input[kDesBlockSize],
                unsigned char output[kDesBlockSize]);
// Triple DES: encrypt under k1, decrypt under k2, encrypt under k3, with
// the initial and final permutations done once around all 48 rounds.
void TdesEncrypt(const DesRoundKey k1[kDesRounds], const DesRoundKey k2[kDesRounds], const DesRoundKey k3[kDesRounds],
                 const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize]);
// Its inverse: decrypt under k3, encrypt under k2, decrypt under k1.
void TdesDecrypt(const DesRoundKey k1[kDesRounds], const DesRoundKey k2[kDesRounds], const DesRoundKey k3[kDesRounds],
                 const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize]);

}  // namespace tranpak

#endif
