// The seed's fold: bytes folded by XOR into one 8-byte block, starting
// from eight '0' characters, the last partial block filled with zero
// bytes. The library's own MAC (LEGACY) is this block encrypted once with
// single DES.
//
//   data "0812345678000123000000001000" (28 bytes)
//   30 30 30 30 30 30 30 30      accumulator
//   ^ "08123456" ^ "78000123" ^ "00000000" ^ "1000" 00 00 00 00
//   = 36 30 31 32 03 05 07 05
#ifndef TRANPAK_CRYPTO_FOLD_H
#define TRANPAK_CRYPTO_FOLD_H

namespace tranpak {

// The fold's block: one DES block.
inline constexpr int kFoldSize = 8;

// Folds block into acc byte by byte. Returns 0.
int XorBlock(unsigned char acc[kFoldSize], const unsigned char block[kFoldSize]);

// The accumulator of the first n bytes of data.
void FoldMac(const unsigned char *data, int n, unsigned char acc[kFoldSize]);

}  // namespace tranpak

#endif
