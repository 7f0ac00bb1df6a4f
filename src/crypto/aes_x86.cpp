// AES with the x86 AES instructions. Only the functions here are compiled
// for them (the target attribute), so the rest of the library runs on any
// x86 processor, and these run only once the processor has been asked.
//
//   round key r = out.bytes[r], the 16 bytes FIPS 197 gives for round r
//   block:  x ^= k0; AESENC with k1 .. k(n-1); AESENCLAST with kn
//   back:   x ^= kn; AESDEC with AESIMC(k(n-1)) .. AESIMC(k1);
//           AESDECLAST with k0
//
// The instructions take the same time whatever the key and data, and
// touch no table in memory.
#include "crypto/aes_x86.h"

#include "crypto/secret.h"
#include "os/os.h"

#include <cstdint>
#include <cstring>

#if TRANPAK_X86_AES

#  include <emmintrin.h>
#  include <wmmintrin.h>

// 32-bit Windows keeps the stack aligned to 4 bytes only; a 16-byte
// register spilled there must not trust it.
#  if defined(__i386__)
#    define TRANPAK_AES_TARGET __attribute__((target("aes,sse2"), force_align_arg_pointer))
#  else
#    define TRANPAK_AES_TARGET __attribute__((target("aes,sse2")))
#  endif

namespace tranpak {
namespace {

constexpr unsigned char kRcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1B, 0x36};

uint32_t LoadWord(const unsigned char *p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// SubWord of a key word (byte 0 in the low bits). AESENCLAST is ShiftRows,
// SubBytes and the XOR of a round key; with the word in all four columns
// ShiftRows changes nothing, and the round key is zero.
TRANPAK_AES_TARGET uint32_t SubWord(uint32_t w)
{
    const __m128i v = _mm_aesenclast_si128(_mm_set1_epi32(static_cast<int>(w)), _mm_setzero_si128());
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

template <int Rounds>
TRANPAK_AES_TARGET inline __m128i EncryptBlock(__m128i x, const __m128i (&k)[Rounds + 1])
{
    x = _mm_xor_si128(x, k[0]);
    for (int r = 1; r < Rounds; ++r)
        x = _mm_aesenc_si128(x, k[r]);
    return _mm_aesenclast_si128(x, k[Rounds]);
}

// The round keys are loaded once into registers (as far as the processor
// has them); the chain waits only on its own last block.
template <int Rounds>
TRANPAK_AES_TARGET void CbcMac(const AesKey &key, const unsigned char *data, int blocks,
                               const unsigned char last[kAesBlockSize], unsigned char mac[kAesBlockSize])
{
    __m128i k[Rounds + 1];
    for (int r = 0; r <= Rounds; ++r)
        k[r] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(key.bytes[r]));
    __m128i state = _mm_setzero_si128();
    for (int b = 0; b < blocks; ++b) {
        state = _mm_xor_si128(state, _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + b * kAesBlockSize)));
        state = EncryptBlock<Rounds>(state, k);
    }
    state = _mm_xor_si128(state, _mm_loadu_si128(reinterpret_cast<const __m128i *>(last)));
    state = EncryptBlock<Rounds>(state, k);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(mac), state);
    WipeSecret(k, sizeof k);
}

}  // namespace

TRANPAK_AES_TARGET void AesX86ExpandKey(const unsigned char *key, int keyLen, AesKey &out)
{
    // FIPS 197's KeyExpansion word by word, each word little-endian (its
    // first byte lowest): RotWord is then a rotation right by 8 bits, and
    // Rcon goes into the low byte. The words are written straight into
    // the round keys, so no other copy of them is left to wipe.
    const int nk = keyLen / 4;
    const int words = 4 * (out.rounds + 1);
    unsigned char *w = &out.bytes[0][0];
    std::memcpy(w, key, static_cast<size_t>(keyLen));
    for (int i = nk; i < words; ++i) {
        uint32_t temp = LoadWord(w + 4 * (i - 1));
        if (i % nk == 0)
            temp = SubWord((temp >> 8) | (temp << 24)) ^ kRcon[i / nk - 1];
        else if (nk > 6 && i % nk == 4)
            temp = SubWord(temp);
        temp ^= LoadWord(w + 4 * (i - nk));
        std::memcpy(w + 4 * i, &temp, sizeof temp);
    }
}

TRANPAK_AES_TARGET void AesX86Encrypt(const AesKey &key, const unsigned char input[kAesBlockSize],
                                      unsigned char output[kAesBlockSize])
{
    __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(input)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i *>(key.bytes[0])));
    for (int r = 1; r < key.rounds; ++r)
        x = _mm_aesenc_si128(x, _mm_loadu_si128(reinterpret_cast<const __m128i *>(key.bytes[r])));
    x = _mm_aesenclast_si128(x, _mm_loadu_si128(reinterpret_cast<const __m128i *>(key.bytes[key.rounds])));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(output), x);
}

TRANPAK_AES_TARGET void AesX86Decrypt(const AesKey &key, const unsigned char input[kAesBlockSize],
                                      unsigned char output[kAesBlockSize])
{
    __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(input)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i *>(key.bytes[key.rounds])));
    for (int r = key.rounds - 1; r > 0; --r)
        x = _mm_aesdec_si128(x, _mm_aesimc_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(key.bytes[r]))));
    x = _mm_aesdeclast_si128(x, _mm_loadu_si128(reinterpret_cast<const __m128i *>(key.bytes[0])));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(output), x);
}

void AesX86CbcMac(const AesKey &key, const unsigned char *data, int blocks, const unsigned char last[kAesBlockSize],
                  unsigned char mac[kAesBlockSize])
{
    // One loop per key length, so the rounds unroll and the round keys can
    // stay in registers.
    switch (key.rounds) {
    case 10:
        CbcMac<10>(key, data, blocks, last, mac);
        return;
    case 12:
        CbcMac<12>(key, data, blocks, last, mac);
        return;
    default:
        CbcMac<14>(key, data, blocks, last, mac);
        return;
    }
}

}  // namespace tranpak

#else

namespace tranpak {

void AesX86ExpandKey(const unsigned char *, int, AesKey &) {}
void AesX86Encrypt(const AesKey &, const unsigned char *, unsigned char *) {}
void AesX86Decrypt(const AesKey &, const unsigned char *, unsigned char *) {}
void AesX86CbcMac(const AesKey &, const unsigned char *, int, const unsigned char *, unsigned char *) {}

}  // namespace tranpak

#endif
