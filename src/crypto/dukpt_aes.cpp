// DUKPT under AES (ANSI X9.24-3:2017): the derivation data, the initial
// key, the host's derivation of a counter's key and the working keys
// (dukpt.h).
#include "crypto/dukpt.h"

#include "crypto/aes.h"
#include "crypto/secret.h"

#include <bit>
#include <cstring>

namespace tranpak {
namespace {

constexpr int kVersion = 0x01;
constexpr int kUsageInitialKey = 0x8001;
constexpr int kUsageDerivation = 0x8000;
// The key usage indicator of each TpDukptUsage, 0 where AES has none.
constexpr int kUsageCode[] = {kUsageDerivation, 0x1000, 0x2000, 0x2001, 0x3000, 0x3001, 0x2002, 0x3002, 0x0002};
constexpr int kKeyTypeLen[] = {16, 24, 16, 24, 32};
constexpr int kIdTail = 4;  // the initial key ID's bytes in the derivation data of later keys

// The derivation data's first 8 bytes; block number 1.
void DataHead(unsigned char data[kAesBlockSize], int usage, int keyType)
{
    const int bits = 8 * kKeyTypeLen[keyType];
    data[0] = kVersion;
    data[1] = 1;
    data[2] = static_cast<unsigned char>(usage >> 8);
    data[3] = static_cast<unsigned char>(usage);
    data[4] = 0;
    data[5] = static_cast<unsigned char>(keyType);
    data[6] = static_cast<unsigned char>(bits >> 8);
    data[7] = static_cast<unsigned char>(bits);
}

void DataTail(unsigned char data[kAesBlockSize], const unsigned char ksn[kDukptAesKsnLen], uint32_t counter)
{
    std::memcpy(data + 8, ksn + kDukptAesIdLen - kIdTail, kIdTail);
    data[12] = static_cast<unsigned char>(counter >> 24);
    data[13] = static_cast<unsigned char>(counter >> 16);
    data[14] = static_cast<unsigned char>(counter >> 8);
    data[15] = static_cast<unsigned char>(counter);
}

// The key of keyType from a derivation key: the data encrypted once per
// 16 bytes of it, the block number counting, the last block cut short.
void Derive(const unsigned char *key, int keyLen, int keyType, unsigned char data[kAesBlockSize], unsigned char *out)
{
    AesKey k;
    AesKeySchedule(key, keyLen, k);
    unsigned char block[kAesBlockSize];
    const int outLen = kKeyTypeLen[keyType];
    for (int done = 0; done < outLen; done += kAesBlockSize) {
        data[1] = static_cast<unsigned char>(1 + done / kAesBlockSize);
        AesEncrypt(k, data, block);
        const int n = outLen - done < kAesBlockSize ? outLen - done : kAesBlockSize;
        std::memcpy(out + done, block, static_cast<size_t>(n));
    }
    WipeSecret(block, sizeof block);
    WipeSecret(&k, sizeof k);
}

}  // namespace

int DukptKeyTypeLen(int keyType)
{
    return keyType >= kDukpt2Tdea && keyType <= kDukptAes256 ? kKeyTypeLen[keyType] : 0;
}

int DukptAesKeyType(int keyLen) { return keyLen == 16 ? kDukptAes128 : keyLen == 24 ? kDukptAes192 : kDukptAes256; }

bool DukptAesCounterUsable(uint32_t counter) { return counter != 0 && std::popcount(counter) <= kDukptAesMostOnes; }

uint32_t DukptAesCounter(const unsigned char ksn[kDukptAesKsnLen])
{
    const unsigned char *c = ksn + kDukptAesIdLen;
    return (uint32_t{c[0]} << 24) | (uint32_t{c[1]} << 16) | (uint32_t{c[2]} << 8) | c[3];
}

void DukptAesInitialKey(const unsigned char *bdk, int bdkLen, const unsigned char id[kDukptAesIdLen], unsigned char *ik)
{
    unsigned char data[kAesBlockSize];
    DataHead(data, kUsageInitialKey, DukptAesKeyType(bdkLen));
    std::memcpy(data + 8, id, kDukptAesIdLen);
    Derive(bdk, bdkLen, DukptAesKeyType(bdkLen), data, ik);
}

void DukptAesTransactionKey(const unsigned char *ik, int keyLen, const unsigned char ksn[kDukptAesKsnLen],
                            unsigned char *key)
{
    const uint32_t counter = DukptAesCounter(ksn);
    std::memcpy(key, ik, static_cast<size_t>(keyLen));
    unsigned char data[kAesBlockSize];
    unsigned char next[kDukptAesMaxKeyLen];
    uint32_t sofar = 0;
    for (uint32_t bit = 1u << (kDukptAesCounterBits - 1); bit != 0; bit >>= 1) {
        if ((counter & bit) == 0)
            continue;
        sofar |= bit;
        DataHead(data, kUsageDerivation, DukptAesKeyType(keyLen));
        DataTail(data, ksn, sofar);
        Derive(key, keyLen, DukptAesKeyType(keyLen), data, next);
        std::memcpy(key, next, static_cast<size_t>(keyLen));
    }
    WipeSecret(next, sizeof next);
    WipeSecret(data, sizeof data);
}

bool DukptAesDerive(const unsigned char *key, int keyLen, int usage, int keyType,
                    const unsigned char ksn[kDukptAesKsnLen], unsigned char *out)
{
    // A working key no stronger than the key it comes from: triple DES
    // keys (at most 112 bits) from any AES key, AES keys no longer.
    const bool aesType = keyType >= kDukptAes128;
    if (usage < 0 || usage >= static_cast<int>(sizeof kUsageCode / sizeof kUsageCode[0]) ||
        DukptKeyTypeLen(keyType) == 0 || (aesType && DukptKeyTypeLen(keyType) > keyLen))
        return false;
    unsigned char data[kAesBlockSize];
    DataHead(data, kUsageCode[usage], keyType);
    DataTail(data, ksn, DukptAesCounter(ksn));
    Derive(key, keyLen, keyType, data, out);
    WipeSecret(data, sizeof data);
    return true;
}

}  // namespace tranpak
