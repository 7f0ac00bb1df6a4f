// AES through the AES instructions of x86 processors (AES-NI): key
// expansion, one block, and the CBC chain of a CMAC. Only for keys of the
// kInstructions path, which AesKeyScheduleOn gives only where the
// processor has the instructions; in a build for another processor these
// are never reached and do nothing.
#ifndef TRANPAK_CRYPTO_AES_X86_H
#define TRANPAK_CRYPTO_AES_X86_H

#include "crypto/aes.h"

namespace tranpak {

// FIPS 197's KeyExpansion of a key of 16, 24 or 32 bytes into out.bytes
// (out.rounds already set).
void AesX86ExpandKey(const unsigned char *key, int keyLen, AesKey &out);
// Encrypts one block; input and output may be the same bytes.
void AesX86Encrypt(const AesKey &key, const unsigned char input[kAesBlockSize], unsigned char output[kAesBlockSize]);
// Decrypts one block (the equivalent inverse cipher: AESDEC with each
// middle round key passed through AESIMC); input and output may be the
// same bytes.
void AesX86Decrypt(const AesKey &key, const unsigned char input[kAesBlockSize], unsigned char output[kAesBlockSize]);
// The CBC chain from a zero block over `blocks` whole blocks of data and
// then the block `last`: its final block into mac. The chain stays in a
// register from first block to last.
void AesX86CbcMac(const AesKey &key, const unsigned char *data, int blocks, const unsigned char last[kAesBlockSize],
                  unsigned char mac[kAesBlockSize]);

}  // namespace tranpak

#endif
