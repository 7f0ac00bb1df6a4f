// DES, the Data Encryption Standard (FIPS 46-3): encryption of one block.
//
// The standard's tables are written out below exactly as published, bits
// numbered 1 to 64 from the most significant bit of the first byte. At
// compile time they are turned into lookup tables: each bit permutation
// into one table per input byte, and each S-box together with the
// permutation P into one table of 64 words (the usual "SP" tables), so a
// round is eight lookups.
#include "crypto/des.h"
#include "crypto/secret.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tranpak {
namespace {

// Initial permutation IP.
constexpr uint8_t kIp[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7,
};

// Final permutation, the inverse of IP.
constexpr uint8_t kFp[64] = {
    40, 8,  48, 16, 56, 24, 64, 32, 39, 7,  47, 15, 55, 23, 63, 31, 38, 6,  46, 14, 54, 22,
    62, 30, 37, 5,  45, 13, 53, 21, 61, 29, 36, 4,  44, 12, 52, 20, 60, 28, 35, 3,  43, 11,
    51, 19, 59, 27, 34, 2,  42, 10, 50, 18, 58, 26, 33, 1,  41, 9,  49, 17, 57, 25,
};

// Permutation P of the S-box outputs.
constexpr uint8_t kP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

// Permuted choice 1: the 56 key bits that are not parity bits, as C then D.
constexpr uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1, 58, 50, 42, 34, 26, 18, 10, 2, 59, 51, 43, 35, 27, 19, 11, 3, 60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7, 62, 54, 46, 38, 30, 22, 14, 6, 61, 53, 45, 37, 29, 21, 13, 5, 28, 20, 12, 4,
};

// Permuted choice 2: the 48 bits of a round key from C and D.
constexpr uint8_t kPc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

// Left rotations of C and D before each of the 16 rounds.
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// S-boxes S1 to S8: row (outer bits) by column (inner four bits).
constexpr uint8_t kSbox[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// A bit permutation of an InBits-wide value (bit 1 its most significant)
// as one table per input byte: the output is the OR of the entries that
// the input's bytes select.
template <int InBits>
using ByteTables = std::array<std::array<uint64_t, 256>, InBits / 8>;

template <int InBits, int OutBits>
constexpr ByteTables<InBits> MakeByteTables(const uint8_t (&perm)[OutBits])
{
    ByteTables<InBits> t{};
    for (int o = 0; o < OutBits; ++o) {
        const int src = perm[o] - 1;
        const int byte = src / 8, shift = 7 - src % 8;
        const uint64_t mask = uint64_t{1} << (OutBits - 1 - o);
        for (int v = 0; v < 256; ++v)
            if ((v >> shift) & 1)
                t[byte][v] |= mask;
    }
    return t;
}

template <int InBits>
uint64_t Permute(const ByteTables<InBits> &t, uint64_t in)
{
    uint64_t out = 0;
    for (int k = 0; k < InBits / 8; ++k)
        out |= t[k][(in >> (InBits - 8 * (k + 1))) & 0xFF];
    return out;
}

// S-box j followed by P, for each 6-bit input.
using SpTables = std::array<std::array<uint32_t, 64>, 8>;

constexpr SpTables MakeSpTables()
{
    SpTables sp{};
    for (int j = 0; j < 8; ++j) {
        for (int x = 0; x < 64; ++x) {
            const int row = ((x >> 4) & 2) | (x & 1);
            const int col = (x >> 1) & 0xF;
            const uint32_t s = static_cast<uint32_t>(kSbox[j][row][col]) << (28 - 4 * j);
            uint32_t out = 0;
            for (int o = 0; o < 32; ++o)
                if ((s >> (32 - kP[o])) & 1)
                    out |= uint32_t{1} << (31 - o);
            sp[j][x] = out;
        }
    }
    return sp;
}

constexpr ByteTables<64> kIpTables = MakeByteTables<64>(kIp);
constexpr ByteTables<64> kFpTables = MakeByteTables<64>(kFp);
constexpr ByteTables<64> kPc1Tables = MakeByteTables<64>(kPc1);
constexpr ByteTables<56> kPc2Tables = MakeByteTables<56>(kPc2);
constexpr SpTables kSp = MakeSpTables();

constexpr int kRounds = kDesRounds;

uint64_t LoadBigEndian(const unsigned char b[8])
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | b[i];
    return v;
}

void StoreBigEndian(uint64_t v, unsigned char b[8])
{
    for (int i = 7; i >= 0; --i) {
        b[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}

uint32_t Rotl28(uint32_t v, int n) { return ((v << n) | (v >> (28 - n))) & 0x0FFFFFFF; }

// The cipher function f(R, K) is expansion E, key mixing, the S-boxes and P.
// Group j of E(R) is bits 4j to 4j+5 of R (bit 0 meaning bit 32, bit 33
// meaning bit 1), which a left rotation by 4j+5 brings to the low end. So
// rotl(R, 5) holds groups 0, 6, 4 and 2 in its bytes from the low end up,
// each in the byte's low six bits, and rotl(R, 9) groups 1, 7, 5 and 3. A
// round key is kept in the same two shapes, and a round is two rotations,
// two XORs and eight lookups.
using RoundKey = DesRoundKey;

uint32_t Feistel(uint32_t r, RoundKey k)
{
    const uint32_t a = std::rotl(r, 5) ^ k.even;
    const uint32_t b = std::rotl(r, 9) ^ k.odd;
    return kSp[0][a & 0x3F] | kSp[6][(a >> 8) & 0x3F] | kSp[4][(a >> 16) & 0x3F] | kSp[2][(a >> 24) & 0x3F] |
           kSp[1][b & 0x3F] | kSp[7][(b >> 8) & 0x3F] | kSp[5][(b >> 16) & 0x3F] | kSp[3][(b >> 24) & 0x3F];
}

// The 16 round keys.
void KeySchedule(uint64_t key, RoundKey subkeys[kRounds])
{
    const uint64_t cd = Permute<64>(kPc1Tables, key);
    uint32_t c = static_cast<uint32_t>(cd >> 28), d = static_cast<uint32_t>(cd & 0x0FFFFFFF);
    for (int i = 0; i < kRounds; ++i) {
        c = Rotl28(c, kShifts[i]);
        d = Rotl28(d, kShifts[i]);
        const uint64_t k = Permute<56>(kPc2Tables, (uint64_t{c} << 28) | d);
        uint32_t group[8];
        for (int j = 0; j < 8; ++j)
            group[j] = static_cast<uint32_t>((k >> (42 - 6 * j)) & 0x3F);
        subkeys[i].even = group[0] | group[6] << 8 | group[4] << 16 | group[2] << 24;
        subkeys[i].odd = group[1] | group[7] << 8 | group[5] << 16 | group[3] << 24;
    }
}

// Sixteen rounds forwards (encryption) or backwards (decryption), two a
// turn, so the halves change places without a copy: after each turn l and
// r are L and R of the even round. The halves are not swapped after the
// last round: R16 L16 is what goes on, to FP or into the next cipher.
void RoundsForward(const RoundKey subkeys[kRounds], uint32_t &l, uint32_t &r)
{
    for (int i = 0; i < kRounds; i += 2) {
        l ^= Feistel(r, subkeys[i]);
        r ^= Feistel(l, subkeys[i + 1]);
    }
}

void RoundsBackward(const RoundKey subkeys[kRounds], uint32_t &l, uint32_t &r)
{
    for (int i = kRounds - 1; i > 0; i -= 2) {
        l ^= Feistel(r, subkeys[i]);
        r ^= Feistel(l, subkeys[i - 1]);
    }
}

void Split(const unsigned char input[kDesBlockSize], uint32_t &l, uint32_t &r)
{
    const uint64_t block = Permute<64>(kIpTables, LoadBigEndian(input));
    l = static_cast<uint32_t>(block >> 32);
    r = static_cast<uint32_t>(block);
}

// R16 L16 through FP.
void Join(uint32_t l, uint32_t r, unsigned char output[kDesBlockSize])
{
    StoreBigEndian(Permute<64>(kFpTables, (uint64_t{r} << 32) | l), output);
}

void EncryptBlock(const RoundKey subkeys[kRounds], const unsigned char input[kDesBlockSize],
                  unsigned char output[kDesBlockSize])
{
    uint32_t l, r;
    Split(input, l, r);
    RoundsForward(subkeys, l, r);
    Join(l, r, output);
}

}  // namespace

void DesKeySchedule(const unsigned char key[kDesBlockSize], DesRoundKey subkeys[kDesRounds])
{
    KeySchedule(LoadBigEndian(key), subkeys);
}

void DesEncrypt(const DesRoundKey subkeys[kDesRounds], const unsigned char input[kDesBlockSize],
                unsigned char output[kDesBlockSize])
{
    EncryptBlock(subkeys, input, output);
}

void DesDecrypt(const DesRoundKey subkeys[kDesRounds], const unsigned char input[kDesBlockSize],
                unsigned char output[kDesBlockSize])
{
    uint32_t l, r;
    Split(input, l, r);
    RoundsBackward(subkeys, l, r);
    Join(l, r, output);
}

void TdesEncrypt(const DesRoundKey k1[kDesRounds], const DesRoundKey k2[kDesRounds], const DesRoundKey k3[kDesRounds],
                 const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize])
{
    // FP then IP between two ciphers cancel out; only the halves swap.
    uint32_t l, r;
    Split(input, l, r);
    RoundsForward(k1, l, r);
    RoundsBackward(k2, r, l);
    RoundsForward(k3, l, r);
    Join(l, r, output);
}

void TdesDecrypt(const DesRoundKey k1[kDesRounds], const DesRoundKey k2[kDesRounds], const DesRoundKey k3[kDesRounds],
                 const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize])
{
    uint32_t l, r;
    Split(input, l, r);
    RoundsBackward(k3, l, r);
    RoundsForward(k2, r, l);
    RoundsBackward(k1, l, r);
    Join(l, r, output);
}

int DesBlock(DesContext &ctx, const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize],
             const unsigned char key[kDesBlockSize])
{
    if (!ctx.valid || std::memcmp(ctx.key, key, kDesBlockSize) != 0) {
        KeySchedule(LoadBigEndian(key), ctx.subkeys);
        std::memcpy(ctx.key, key, kDesBlockSize);
        ctx.valid = true;
    }
    EncryptBlock(ctx.subkeys, input, output);
    return 0;
}

int DesBlock(const unsigned char input[kDesBlockSize], unsigned char output[kDesBlockSize],
             const unsigned char key[kDesBlockSize])
{
    RoundKey subkeys[kRounds];
    KeySchedule(LoadBigEndian(key), subkeys);
    EncryptBlock(subkeys, input, output);
    WipeSecret(subkeys, sizeof subkeys);
    return 0;
}

}  // namespace tranpak
