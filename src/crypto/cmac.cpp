// CMAC (NIST SP 800-38B) under triple DES (64-bit blocks) and AES (128-bit
// blocks).
//
//   L = e(0), K1 = 2L, K2 = 4L in GF(2^b) (doubling: shift left, XOR the
//   constant 0x1B or 0x87 into the last byte when the top bit fell out)
//   M1 ... Mn, n >= 1: Mn ^ K1 when it is a whole block, else Mn with
//   0x80 and zero bytes, ^ K2; then the CBC chain, its last block the MAC.
#include "crypto/aes_x86.h"
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"

#include <cstring>

namespace tranpak {
namespace {

constexpr unsigned char kReduce64 = 0x1B;
constexpr unsigned char kReduce128 = 0x87;

// b = 2b in GF(2^(8n)), without a branch on the top bit.
void Double(unsigned char *b, int n, unsigned char reduce)
{
    const unsigned char carry = static_cast<unsigned char>(b[0] >> 7);
    for (int i = 0; i < n - 1; ++i)
        b[i] = static_cast<unsigned char>((b[i] << 1) | (b[i + 1] >> 7));
    b[n - 1] = static_cast<unsigned char>((b[n - 1] << 1) ^ (reduce & static_cast<unsigned char>(0 - carry)));
}

// The last block of the text, padded and with its subkey folded in; l is
// e(0) on entry and is wiped. Returns the bytes of data before it.
int LastBlock(const unsigned char *data, int len, int n, unsigned char *l, unsigned char reduce, unsigned char *last)
{
    const bool whole = len > 0 && len % n == 0;
    const int before = len == 0 ? 0 : (len - 1) / n * n;
    std::memset(last, 0, static_cast<size_t>(n));
    if (len > before)
        std::memcpy(last, data + before, static_cast<size_t>(len - before));
    if (!whole)
        last[len - before] = 0x80;
    Double(l, n, reduce);  // K1
    if (!whole)
        Double(l, n, reduce);  // K2
    for (int i = 0; i < n; ++i)
        last[i] ^= l[i];
    WipeSecret(l, static_cast<size_t>(n));
    return before;
}

}  // namespace

void TdesCmac(const DesCipher &c, const unsigned char *data, int len, unsigned char mac[kDesBlockSize])
{
    constexpr int n = kDesBlockSize;
    unsigned char l[n] = {}, last[n];
    DesCipherEncrypt(c, l, l);
    const int before = LastBlock(data, len, n, l, kReduce64, last);
    std::memset(mac, 0, n);
    for (int offset = 0; offset < before; offset += n) {
        for (int i = 0; i < n; ++i)
            mac[i] ^= data[offset + i];
        DesCipherEncrypt(c, mac, mac);
    }
    for (int i = 0; i < n; ++i)
        mac[i] ^= last[i];
    DesCipherEncrypt(c, mac, mac);
    WipeSecret(last, sizeof last);
}

void AesCmac(const AesKey &key, const unsigned char *data, int len, unsigned char mac[kAesBlockSize])
{
    constexpr int n = kAesBlockSize;
    unsigned char l[n] = {}, last[n];
    AesEncrypt(key, l, l);
    const int before = LastBlock(data, len, n, l, kReduce128, last);
    if (key.path == AesPath::kInstructions) {
        AesX86CbcMac(key, data, before / n, last, mac);
        WipeSecret(last, sizeof last);
        return;
    }
    // The chain stays sliced: slicing is linear, so each block of text is
    // sliced and XORed into the sliced state.
    AesSlices state{}, block;
    for (int offset = 0; offset < before; offset += n) {
        AesSlice(data + offset, block);
        for (int b = 0; b < kAesSlices; ++b)
            state.s[b] ^= block.s[b];
        AesEncryptSliced(key, state);
    }
    AesSlice(last, block);
    for (int b = 0; b < kAesSlices; ++b)
        state.s[b] ^= block.s[b];
    AesEncryptSliced(key, state);
    AesUnslice(state, mac);
    WipeSecret(last, sizeof last);
    WipeSecret(&state, sizeof state);
    WipeSecret(&block, sizeof block);
}

}  // namespace tranpak
