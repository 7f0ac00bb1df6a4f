// Single DES encryption of one 64-bit block (FIPS 46-3), used for the
// message authentication code.
#ifndef TRANPAK_PACKET_DES_H
#define TRANPAK_PACKET_DES_H

namespace tranpak {

inline constexpr int kDesBlockSize = 8;

// Encrypts input under key into output. All 64 key bits are taken in; the
// 8 parity bits do not affect the result. The round keys of the last key
// are kept, so blocks under one key pay for its schedule once. Returns 0.
int DesBlock(const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize],
             const unsigned char key[kDesBlockSize]);

}  // namespace tranpak

#endif
