// The MAC algorithms of TpMac and of field 64 under a [MAC] section, and
// key check values, on arguments already checked (the kit's MacKeyLenFits and
// MacPaddingFits).
//
//   algorithm   cipher of the key                 chain                    last block
//   ALG1        DES (8) / TDES K1K2K1 (16),       CBC under the cipher     pad 1 or 2
//               K1K2K3 (24)
//   ALG3        DES under K1                      CBC under K1             d(K2), e(K1 or K3)
//   TDES-CMAC   TDES (16, 24)                     CBC under the cipher     xor K1 or pad and K2
//   AES-CMAC    AES (16, 24, 32)                  CBC under the cipher     xor K1 or pad and K2
#ifndef TRANPAK_CRYPTO_MAC_ALGORITHMS_H
#define TRANPAK_CRYPTO_MAC_ALGORITHMS_H

#include "crypto/aes.h"
#include "crypto/des.h"

namespace tranpak {

// The algorithms, paddings and key check methods, numbered as the public
// header numbers its TP_MAC_* and TP_KCV_* codes (the codec checks that
// they agree); the crypto knows nothing of the header.
inline constexpr int kMacLegacy = 0;  // the seed's fold, then single DES
inline constexpr int kMacIso9797Alg1 = 1;
inline constexpr int kMacIso9797Alg3 = 3;
inline constexpr int kMacTdesCmac = 4;
inline constexpr int kMacAesCmac = 5;
// ISO/IEC 9797-1 padding methods 1 (zero bytes) and 2 (0x80, then zeros).
inline constexpr int kMacPad1 = 1;
inline constexpr int kMacPad2 = 2;
// Key check values: a zero block encrypted, or its CMAC.
inline constexpr int kKcvEncryptZeros = 1;
inline constexpr int kKcvCmac = 2;

// The longest MAC and block (AES) and the longest key (AES-256).
inline constexpr int kMacMaxBlock = kAesBlockSize;
inline constexpr int kMacMaxKeyLen = 32;

// The cipher's block: 16 for AES-CMAC, else 8. The MAC is one block.
int MacBlockSize(int algorithm);
// The MAC of len bytes of data, one whole block, into mac.
void ComputeMac(int algorithm, int padding, const unsigned char *key, int keyLen, const unsigned char *data, int len,
                unsigned char mac[kMacMaxBlock]);
// The check value of a key: one block (method 1: a zero block encrypted;
// method 2: the CMAC of a zero block).
void KeyCheckBlock(int method, int algorithm, const unsigned char *key, int keyLen, unsigned char out[kMacMaxBlock]);

// The DES-family cipher of a MAC key: single DES (8 bytes), or triple DES
// with K1 K2 K1 (16 bytes) or K1 K2 K3 (24 bytes).
struct DesCipher {
    bool triple;
    DesRoundKey k[3][kDesRounds];
};
void DesCipherSetup(DesCipher &c, const unsigned char *key, int keyLen);
void DesCipherEncrypt(const DesCipher &c, const unsigned char in[kDesBlockSize], unsigned char out[kDesBlockSize]);
void DesCipherDecrypt(const DesCipher &c, const unsigned char in[kDesBlockSize], unsigned char out[kDesBlockSize]);

// ISO/IEC 9797-1 algorithms 1 and 3 with padding method 1 or 2.
void Iso9797Alg1(const unsigned char *key, int keyLen, int padding, const unsigned char *data, int len,
                 unsigned char mac[kDesBlockSize]);
void Iso9797Alg3(const unsigned char *key, int keyLen, int padding, const unsigned char *data, int len,
                 unsigned char mac[kDesBlockSize]);
// CMAC (NIST SP 800-38B) under triple DES and under AES.
void TdesCmac(const DesCipher &c, const unsigned char *data, int len, unsigned char mac[kDesBlockSize]);
void AesCmac(const AesKey &key, const unsigned char *data, int len, unsigned char mac[kAesBlockSize]);

}  // namespace tranpak

#endif
