// AES encryption, bit-sliced over one block: the portable path, and the
// choice of path when a key is expanded (the instructions: aes_x86.cpp).
//
//   16 state bytes            8 slices of 16 bits
//   byte p = (row p%4,        slice b, bit p = bit b of byte p
//            column p/4)
//
// SubBytes is the S-box as a circuit of 32 AND gates between two layers of
// XOR and XNOR gates (the one Boyar and Peralta published in 2009), applied
// to all sixteen bytes at once. ShiftRows and MixColumns move bits between
// positions of a slice, the same for every slice, with masks and constant
// shifts; the doubling in MixColumns moves slices. Nothing indexes memory
// by key or data.
//
// The inverse cipher uses the same circuit: the inverse S-box is the
// inverse affine map, the S-box, and the inverse affine map again (the
// S-box is the affine map after the inversion in GF(2^8), so the two
// affine maps around it cancel and leave the inversion of the first's
// output). InvMixColumns is MixColumns after a cheap step that multiplies
// by 4 (x^2) in each column.
#include "crypto/aes.h"

#include "crypto/aes_x86.h"
#include "crypto/secret.h"
#include "os/os.h"

namespace tranpak {
namespace {

constexpr uint32_t kSliceMask = 0xFFFF;
// Positions of the bytes of each row within a slice.
constexpr uint32_t kRow0 = 0x1111, kRow1 = 0x2222, kRow2 = 0x4444, kRow3 = 0x8888;

// The S-box on eight slices: in[7] is the most significant bit of every
// byte, in[0] the least. The circuit names its inputs from the most
// significant bit down (u0 = bit 7) and its outputs likewise (r0 = bit 7).
void SubBytes(uint32_t q[kAesSlices])
{
    const uint32_t u0 = q[7], u1 = q[6], u2 = q[5], u3 = q[4], u4 = q[3], u5 = q[2], u6 = q[1], u7 = q[0];

    // Top linear part: 22 sums of input bits.
    const uint32_t y14 = u3 ^ u5, y13 = u0 ^ u6, y9 = u0 ^ u3, y8 = u0 ^ u5;
    const uint32_t t0 = u1 ^ u2;
    const uint32_t y1 = t0 ^ u7, y4 = y1 ^ u3, y12 = y13 ^ y14, y2 = y1 ^ u0, y5 = y1 ^ u6;
    const uint32_t y3 = y5 ^ y8;
    const uint32_t t1 = u4 ^ y12;
    const uint32_t y15 = t1 ^ u5, y20 = t1 ^ u1;
    const uint32_t y6 = y15 ^ u7, y10 = y15 ^ t0, y11 = y20 ^ y9;
    const uint32_t y7 = u7 ^ y11, y17 = y10 ^ y11, y19 = y10 ^ y8, y16 = t0 ^ y11;
    const uint32_t y21 = y13 ^ y16, y18 = u0 ^ y16;

    // Middle part: inversion in GF(2^4)^2, the only AND gates.
    const uint32_t t2 = y12 & y15, t3 = y3 & y6, t5 = y4 & u7, t7 = y13 & y16, t8 = y5 & y1;
    const uint32_t t10 = y2 & y7, t12 = y9 & y11, t13 = y14 & y17, t15 = y8 & y10;
    const uint32_t t4 = t3 ^ t2, t6 = t5 ^ t2, t9 = t8 ^ t7, t11 = t10 ^ t7;
    const uint32_t t14 = t13 ^ t12, t16 = t15 ^ t12;
    const uint32_t t21 = t4 ^ t14 ^ y20, t22 = t6 ^ t16 ^ y19, t23 = t9 ^ t14 ^ y21, t24 = t11 ^ t16 ^ y18;

    const uint32_t t25 = t21 ^ t22, t26 = t21 & t23;
    const uint32_t t27 = t24 ^ t26;
    const uint32_t t29 = (t25 & t27) ^ t22;
    const uint32_t t30 = t23 ^ t24, t31 = t22 ^ t26;
    const uint32_t t33 = (t31 & t30) ^ t24;
    const uint32_t t34 = t23 ^ t33, t35 = t27 ^ t33;
    const uint32_t t36 = t24 & t35;
    const uint32_t t37 = t36 ^ t34, t38 = t27 ^ t36;
    const uint32_t t40 = t25 ^ (t29 & t38);

    const uint32_t t41 = t40 ^ t37, t42 = t29 ^ t33, t43 = t29 ^ t40, t44 = t33 ^ t37;
    const uint32_t t45 = t42 ^ t41;
    const uint32_t z0 = t44 & y15, z1 = t37 & y6, z2 = t33 & u7, z3 = t43 & y16, z4 = t40 & y1, z5 = t29 & y7;
    const uint32_t z6 = t42 & y11, z7 = t45 & y17, z8 = t41 & y10, z9 = t44 & y12, z10 = t37 & y3;
    const uint32_t z11 = t33 & y4, z12 = t43 & y13, z13 = t40 & y5, z14 = t29 & y2, z15 = t42 & y9;
    const uint32_t z16 = t45 & y14, z17 = t41 & y8;

    // Bottom linear part, with the affine constant 0x63 as XNORs.
    const uint32_t t46 = z15 ^ z16, t47 = z10 ^ z11, t48 = z5 ^ z13, t49 = z9 ^ z10, t50 = z2 ^ z12;
    const uint32_t t51 = z2 ^ z5, t52 = z7 ^ z8, t53 = z0 ^ z3, t54 = z6 ^ z7, t55 = z16 ^ z17;
    const uint32_t t56 = z12 ^ t48, t57 = t50 ^ t53, t58 = z4 ^ t46, t59 = z3 ^ t54;
    const uint32_t t60 = t46 ^ t57, t61 = z14 ^ t57, t62 = t52 ^ t58, t63 = t49 ^ t58, t64 = z4 ^ t59;
    const uint32_t t65 = t61 ^ t62, t66 = z1 ^ t63;
    const uint32_t t67 = t64 ^ t65;
    const uint32_t r3 = t53 ^ t66;
    q[7] = t59 ^ t63;
    q[6] = t64 ^ ~r3;
    q[5] = t55 ^ ~t67;
    q[4] = r3;
    q[3] = t51 ^ t66;
    q[2] = t47 ^ t65;
    q[1] = t56 ^ ~t62;
    q[0] = t48 ^ ~t60;
}

// Rotation of a 16-bit slice towards bit 0.
uint32_t Rotr16(uint32_t v, int n) { return ((v >> n) | (v << (16 - n))) & kSliceMask; }

// Row r moves r columns to the left: the byte at column c takes the one at
// column c + r, which sits 4r positions higher in the slice.
void ShiftRows(uint32_t q[kAesSlices])
{
    for (int b = 0; b < kAesSlices; ++b) {
        const uint32_t x = q[b];
        q[b] = (x & kRow0) | Rotr16(x & kRow1, 4) | Rotr16(x & kRow2, 8) | Rotr16(x & kRow3, 12);
    }
}

// Within each column, row r takes row r + 1 (row 3 takes row 0).
uint32_t NextRow(uint32_t x) { return ((x >> 1) & (kRow0 | kRow1 | kRow2)) | ((x << 3) & kRow3); }
// Row r takes row r + 2.
uint32_t RowAfterNext(uint32_t x) { return ((x >> 2) & (kRow0 | kRow1)) | ((x << 2) & (kRow2 | kRow3)); }

// Row r of a column becomes 2 a(r) + 3 a(r+1) + a(r+2) + a(r+3), written
// as 2 t + a(r+1) + t(r+2) with t = a(r) + a(r+1). Doubling in GF(2^8)
// moves bit b to b + 1 and folds bit 7 back in at bits 0, 1, 3 and 4
// (x^8 = x^4 + x^3 + x + 1).
void MixColumns(uint32_t q[kAesSlices])
{
    uint32_t t[kAesSlices], next[kAesSlices];
    for (int b = 0; b < kAesSlices; ++b) {
        next[b] = NextRow(q[b]);
        t[b] = q[b] ^ next[b];
    }
    const uint32_t high = t[7];
    const uint32_t doubled[kAesSlices] = {high, t[0] ^ high, t[1], t[2] ^ high, t[3] ^ high, t[4], t[5], t[6]};
    for (int b = 0; b < kAesSlices; ++b)
        q[b] = doubled[b] ^ next[b] ^ RowAfterNext(t[b]);
}

// FIPS 197's inverse affine map with its constant 0x05: bit i becomes
// bits i+2, i+5 and i+7 (mod 8) added, and bits 0 and 2 flipped.
void InvAffine(uint32_t q[kAesSlices])
{
    uint32_t in[kAesSlices];
    for (int b = 0; b < kAesSlices; ++b)
        in[b] = q[b];
    for (int b = 0; b < kAesSlices; ++b)
        q[b] = (in[(b + 2) % 8] ^ in[(b + 5) % 8] ^ in[(b + 7) % 8]) & kSliceMask;
    q[0] ^= kSliceMask;
    q[2] ^= kSliceMask;
    WipeSecret(in, sizeof in);
}

void InvSubBytes(uint32_t q[kAesSlices])
{
    InvAffine(q);
    SubBytes(q);
    InvAffine(q);
}

// Row r moves r columns to the right, back to where ShiftRows took it.
void InvShiftRows(uint32_t q[kAesSlices])
{
    for (int b = 0; b < kAesSlices; ++b) {
        const uint32_t x = q[b];
        q[b] = (x & kRow0) | Rotr16(x & kRow1, 12) | Rotr16(x & kRow2, 8) | Rotr16(x & kRow3, 4);
    }
}

// InvMixColumns = MixColumns after a(r) += 4 (a(r) + a(r+2)) in every
// column: the matrix {0e 0b 0d 09} is {02 03 01 01} times
// {05 00 04 00} (rows rotated), and {05 00 04 00} is 1 + 4 (1 + x^2 rot).
void InvMixColumns(uint32_t q[kAesSlices])
{
    uint32_t t[kAesSlices];
    for (int b = 0; b < kAesSlices; ++b)
        t[b] = q[b] ^ RowAfterNext(q[b]);
    for (int twice = 0; twice < 2; ++twice) {
        const uint32_t high = t[7];
        const uint32_t doubled[kAesSlices] = {high, t[0] ^ high, t[1], t[2] ^ high, t[3] ^ high, t[4], t[5], t[6]};
        for (int b = 0; b < kAesSlices; ++b)
            t[b] = doubled[b];
    }
    for (int b = 0; b < kAesSlices; ++b)
        q[b] ^= t[b];
    MixColumns(q);
}

void AddRoundKey(uint32_t q[kAesSlices], const AesSlices &k)
{
    for (int b = 0; b < kAesSlices; ++b)
        q[b] ^= k.s[b];
}

// Bit b of each of eight bytes held little-endian in w, gathered into one
// byte, byte i's bit at bit i: the multiplier moves byte i's bit up by
// 56 - 7i places, and no two of the 64 products share a bit, so nothing
// carries.
uint32_t Gather(uint64_t w, int b)
{
    return static_cast<uint32_t>((((w >> b) & 0x0101010101010101u) * 0x0102040810204080u) >> 56);
}

uint64_t LoadLittleEndian(const unsigned char *p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// SubBytes of four bytes (the key schedule's SubWord).
void SubWord(unsigned char w[4])
{
    uint32_t q[kAesSlices] = {};
    for (int b = 0; b < kAesSlices; ++b)
        for (int p = 0; p < 4; ++p)
            q[b] |= static_cast<uint32_t>((w[p] >> b) & 1) << p;
    SubBytes(q);
    for (int p = 0; p < 4; ++p) {
        unsigned v = 0;
        for (int b = 0; b < kAesSlices; ++b)
            v |= ((q[b] >> p) & 1) << b;
        w[p] = static_cast<unsigned char>(v);
    }
    WipeSecret(q, sizeof q);
}

constexpr int kAesMaxKeyWords = 4 * (kAesMaxRounds + 1);
constexpr unsigned char kRcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1B, 0x36};

// FIPS 197's KeyExpansion, into sliced round keys.
void PortableKeySchedule(const unsigned char *key, int keyLen, AesKey &out)
{
    const int nk = keyLen / 4;
    out.rounds = nk + 6;
    const int words = 4 * (out.rounds + 1);
    unsigned char w[kAesMaxKeyWords][4];
    for (int i = 0; i < nk; ++i)
        for (int j = 0; j < 4; ++j)
            w[i][j] = key[4 * i + j];
    for (int i = nk; i < words; ++i) {
        unsigned char temp[4] = {w[i - 1][0], w[i - 1][1], w[i - 1][2], w[i - 1][3]};
        if (i % nk == 0) {
            const unsigned char first = temp[0];
            temp[0] = temp[1];
            temp[1] = temp[2];
            temp[2] = temp[3];
            temp[3] = first;
            SubWord(temp);
            temp[0] ^= kRcon[i / nk - 1];
        } else if (nk > 6 && i % nk == 4) {
            SubWord(temp);
        }
        for (int j = 0; j < 4; ++j)
            w[i][j] = w[i - nk][j] ^ temp[j];
        WipeSecret(temp, sizeof temp);
    }
    for (int r = 0; r <= out.rounds; ++r)
        AesSlice(w[4 * r], out.round[r]);
    WipeSecret(w, sizeof w);
}

}  // namespace

bool AesInstructionsAvailable() { return os::CpuHasAesInstructions(); }

bool AesKeySchedule(const unsigned char *key, int keyLen, AesKey &out)
{
    return AesKeyScheduleOn(AesInstructionsAvailable() ? AesPath::kInstructions : AesPath::kPortable, key, keyLen, out);
}

bool AesKeyScheduleOn(AesPath path, const unsigned char *key, int keyLen, AesKey &out)
{
    if (keyLen != 16 && keyLen != 24 && keyLen != 32)
        return false;
    if (path == AesPath::kInstructions) {
        if (!AesInstructionsAvailable())
            return false;
        out.path = path;
        out.rounds = keyLen / 4 + 6;
        AesX86ExpandKey(key, keyLen, out);
        return true;
    }
    out.path = AesPath::kPortable;
    PortableKeySchedule(key, keyLen, out);
    return true;
}

void AesSlice(const unsigned char block[kAesBlockSize], AesSlices &out)
{
    const uint64_t lo = LoadLittleEndian(block), hi = LoadLittleEndian(block + 8);
    for (int b = 0; b < kAesSlices; ++b)
        out.s[b] = Gather(lo, b) | Gather(hi, b) << 8;
}

void AesUnslice(const AesSlices &in, unsigned char block[kAesBlockSize])
{
    for (int p = 0; p < kAesBlockSize; ++p) {
        unsigned v = 0;
        for (int b = 0; b < kAesSlices; ++b)
            v |= ((in.s[b] >> p) & 1) << b;
        block[p] = static_cast<unsigned char>(v);
    }
}

void AesEncryptSliced(const AesKey &key, AesSlices &state)
{
    uint32_t *q = state.s;
    AddRoundKey(q, key.round[0]);
    for (int r = 1; r < key.rounds; ++r) {
        SubBytes(q);
        ShiftRows(q);
        MixColumns(q);
        AddRoundKey(q, key.round[r]);
    }
    SubBytes(q);
    ShiftRows(q);
    AddRoundKey(q, key.round[key.rounds]);
}

void AesDecryptSliced(const AesKey &key, AesSlices &state)
{
    uint32_t *q = state.s;
    AddRoundKey(q, key.round[key.rounds]);
    for (int r = key.rounds - 1; r > 0; --r) {
        InvShiftRows(q);
        InvSubBytes(q);
        AddRoundKey(q, key.round[r]);
        InvMixColumns(q);
    }
    InvShiftRows(q);
    InvSubBytes(q);
    AddRoundKey(q, key.round[0]);
}

void AesDecrypt(const AesKey &key, const unsigned char input[kAesBlockSize], unsigned char output[kAesBlockSize])
{
    if (key.path == AesPath::kInstructions) {
        AesX86Decrypt(key, input, output);
        return;
    }
    AesSlices state;
    AesSlice(input, state);
    AesDecryptSliced(key, state);
    AesUnslice(state, output);
    WipeSecret(&state, sizeof state);
}

void AesEncrypt(const AesKey &key, const unsigned char input[kAesBlockSize], unsigned char output[kAesBlockSize])
{
    if (key.path == AesPath::kInstructions) {
        AesX86Encrypt(key, input, output);
        return;
    }
    AesSlices state;
    AesSlice(input, state);
    AesEncryptSliced(key, state);
    AesUnslice(state, output);
    WipeSecret(&state, sizeof state);
}

}  // namespace tranpak
