// DUKPT under triple DES (ANSI X9.24-1:2009): the IPEK, the
// non-reversible key generation, the host's derivation of a counter's key
// and the variants of the working keys (dukpt.h).
#include "crypto/dukpt.h"

#include "crypto/des.h"
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"

#include <bit>
#include <cstring>

namespace tranpak {
namespace {

constexpr int kHalf = kDesBlockSize;
constexpr uint32_t kCounterMask = (1u << kDukptTdesCounterBits) - 1;
// The KSN's rightmost 8 bytes (the "KSN register"), with the counter in
// its last 21 bits.
constexpr int kRegisterOffset = kDukptTdesKsnLen - 8;
// The key variant of the IPEK's right half and of each non-reversible
// step's left half: C0C0C0C000000000 in each 8 bytes.
constexpr unsigned char kKeyVariant[kHalf] = {0xC0, 0xC0, 0xC0, 0xC0, 0x00, 0x00, 0x00, 0x00};
// Byte of each half that a working key's variant flips with FF, by usage
// (X9.24-1:2009 A.6); -1 for usages triple DES DUKPT does not have.
constexpr int kVariantByte[] = {-1, 7, 6, 4, 5, 3};

// The counter bits of a KSN register set to counter.
void SetCounter(unsigned char reg[8], uint32_t counter)
{
    reg[5] = static_cast<unsigned char>((reg[5] & ~(kCounterMask >> 16)) | (counter >> 16));
    reg[6] = static_cast<unsigned char>(counter >> 8);
    reg[7] = static_cast<unsigned char>(counter);
}

// One single DES encryption of in ^ key.right under key.left, XOR key.right.
void CryptoRegister(const unsigned char key[kDukptTdesKeyLen], const unsigned char in[kHalf], unsigned char out[kHalf])
{
    DesRoundKey sub[kDesRounds];
    unsigned char x[kHalf];
    for (int i = 0; i < kHalf; ++i)
        x[i] = in[i] ^ key[kHalf + i];
    DesKeySchedule(key, sub);
    DesEncrypt(sub, x, out);
    for (int i = 0; i < kHalf; ++i)
        out[i] ^= key[kHalf + i];
    WipeSecret(sub, sizeof sub);
    WipeSecret(x, sizeof x);
}

}  // namespace

bool DukptTdesCounterUsable(uint32_t counter)
{
    return counter != 0 && counter <= kCounterMask && std::popcount(counter) <= kDukptTdesMostOnes;
}

uint32_t DukptTdesCounter(const unsigned char ksn[kDukptTdesKsnLen])
{
    const unsigned char *r = ksn + kRegisterOffset;
    return ((uint32_t{r[5]} << 16) | (uint32_t{r[6]} << 8) | r[7]) & kCounterMask;
}

void DukptTdesInitialKey(const unsigned char *bdk, int bdkLen, const unsigned char ksn[kDukptTdesKsnLen],
                         unsigned char ipek[kDukptTdesKeyLen])
{
    // The KSN's leftmost 8 bytes with the counter's bits (the last five of
    // byte 7, all of bytes 8 and 9, beyond them) cleared.
    unsigned char left[kHalf];
    std::memcpy(left, ksn, kHalf);
    left[7] &= static_cast<unsigned char>(~(kCounterMask >> 16));
    unsigned char variant[24];
    std::memcpy(variant, bdk, static_cast<size_t>(bdkLen));
    for (int i = 0; i < bdkLen; ++i)
        variant[i] ^= kKeyVariant[i % kHalf];
    DesCipher c;
    DesCipherSetup(c, bdk, bdkLen);
    DesCipherEncrypt(c, left, ipek);
    DesCipherSetup(c, variant, bdkLen);
    DesCipherEncrypt(c, left, ipek + kHalf);
    WipeSecret(&c, sizeof c);
    WipeSecret(variant, sizeof variant);
}

void DukptTdesNextKey(const unsigned char key[kDukptTdesKeyLen], const unsigned char data[8],
                      unsigned char out[kDukptTdesKeyLen])
{
    unsigned char variant[kDukptTdesKeyLen];
    for (int i = 0; i < kDukptTdesKeyLen; ++i)
        variant[i] = key[i] ^ kKeyVariant[i % kHalf];
    // Both halves aside first: out may be key.
    unsigned char left[kHalf], right[kHalf];
    CryptoRegister(variant, data, left);
    CryptoRegister(key, data, right);
    std::memcpy(out, left, kHalf);
    std::memcpy(out + kHalf, right, kHalf);
    WipeSecret(variant, sizeof variant);
    WipeSecret(left, sizeof left);
    WipeSecret(right, sizeof right);
}

void DukptTdesTransactionKey(const unsigned char ipek[kDukptTdesKeyLen], const unsigned char ksn[kDukptTdesKsnLen],
                             unsigned char key[kDukptTdesKeyLen])
{
    const uint32_t counter = DukptTdesCounter(ksn);
    unsigned char reg[8];
    std::memcpy(reg, ksn + kRegisterOffset, sizeof reg);
    std::memcpy(key, ipek, kDukptTdesKeyLen);
    uint32_t sofar = 0;
    for (uint32_t bit = 1u << (kDukptTdesCounterBits - 1); bit != 0; bit >>= 1) {
        if ((counter & bit) == 0)
            continue;
        sofar |= bit;
        SetCounter(reg, sofar);
        DukptTdesNextKey(key, reg, key);
    }
    WipeSecret(reg, sizeof reg);
}

bool DukptTdesWorkingKey(int usage, const unsigned char key[kDukptTdesKeyLen], unsigned char out[kDukptTdesKeyLen])
{
    if (usage < 0 || usage >= static_cast<int>(sizeof kVariantByte / sizeof kVariantByte[0]))
        return false;
    std::memcpy(out, key, kDukptTdesKeyLen);
    const int b = kVariantByte[usage];
    if (b >= 0) {
        out[b] ^= 0xFF;
        out[kHalf + b] ^= 0xFF;
    }
    return true;
}

}  // namespace tranpak
