// ISO/IEC 9797-1 MAC algorithms 1 (CBC-MAC) and 3 (the retail MAC) over
// 8-byte blocks.
//
//   text   D1 D2 ... Dq (the last one padded)
//   chain  H1 = e(D1), Hi = e(H(i-1) ^ Di)
//   alg 1  MAC = Hq, e the key's cipher (DES or triple DES)
//   alg 3  e single DES under K1; MAC = e(K1 or K3, d(K2, Hq))
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"

#include <cstring>

namespace tranpak {
namespace {

constexpr int kBlock = kDesBlockSize;

// The padded last block into last; returns the number of bytes of data
// before it, all in whole blocks. Method 1 adds nothing to a text of
// whole blocks (except the empty text, which becomes one zero block);
// method 2 always adds 0x80.
int PadLastBlock(const unsigned char *data, int len, int padding, unsigned char last[kBlock])
{
    int tail = len % kBlock;
    if (padding == kMacPad1 && tail == 0 && len > 0)
        tail = kBlock;
    const int before = len - tail;
    std::memset(last, 0, kBlock);
    if (tail > 0)
        std::memcpy(last, data + before, static_cast<size_t>(tail));
    if (padding == kMacPad2)
        last[tail] = 0x80;
    return before;
}

// The CBC chain over the padded text, under c; its last block into h.
void Chain(const DesCipher &c, int padding, const unsigned char *data, int len, unsigned char h[kBlock])
{
    unsigned char last[kBlock];
    const int before = PadLastBlock(data, len, padding, last);
    std::memset(h, 0, kBlock);
    for (int offset = 0; offset < before; offset += kBlock) {
        for (int i = 0; i < kBlock; ++i)
            h[i] ^= data[offset + i];
        DesCipherEncrypt(c, h, h);
    }
    for (int i = 0; i < kBlock; ++i)
        h[i] ^= last[i];
    DesCipherEncrypt(c, h, h);
    WipeSecret(last, sizeof last);
}

}  // namespace

void Iso9797Alg1(const unsigned char *key, int keyLen, int padding, const unsigned char *data, int len,
                 unsigned char mac[kBlock])
{
    DesCipher c;
    DesCipherSetup(c, key, keyLen);
    Chain(c, padding, data, len, mac);
    WipeSecret(&c, sizeof c);
}

void Iso9797Alg3(const unsigned char *key, int keyLen, int padding, const unsigned char *data, int len,
                 unsigned char mac[kBlock])
{
    DesCipher k1;
    DesCipherSetup(k1, key, kBlock);
    Chain(k1, padding, data, len, mac);
    DesRoundKey k2[kDesRounds];
    DesKeySchedule(key + kBlock, k2);
    DesDecrypt(k2, mac, mac);
    if (keyLen > 2 * kBlock) {
        // The third key replaces the first in the final encryption.
        DesKeySchedule(key + 2 * kBlock, k2);
        DesEncrypt(k2, mac, mac);
    } else {
        DesCipherEncrypt(k1, mac, mac);
    }
    WipeSecret(&k1, sizeof k1);
    WipeSecret(k2, sizeof k2);
}

}  // namespace tranpak
