// AES (FIPS 197) encryption of one 16-byte block, for AES-CMAC. Bit-sliced
// and free of tables: the state is held as eight 16-bit slices, slice b
// holding bit b of each of the sixteen state bytes, and every step is a
// fixed sequence of logic operations and constant shifts, so neither the
// key nor the data choose a branch or an address.
#ifndef TRANPAK_PACKET_AES_H
#define TRANPAK_PACKET_AES_H

#include <cstdint>

namespace tranpak {

inline constexpr int kAesBlockSize = 16;
inline constexpr int kAesMaxRounds = 14;  // 256-bit keys; 10 and 12 for 128 and 192
inline constexpr int kAesSlices = 8;      // one per bit of a byte

// A block in sliced form: bit p of slice b is bit b of state byte p (byte p
// is row p % 4 of column p / 4). Slicing is linear, so a CBC chain can XOR
// sliced data into a sliced state and leave that form only at its end.
struct AesSlices {
    uint32_t s[kAesSlices];
};

// The round keys of one key, sliced.
struct AesKey {
    int rounds;
    AesSlices round[kAesMaxRounds + 1];
};

// Expands a key of 16, 24 or 32 bytes; false for any other length.
bool AesKeySchedule(const unsigned char *key, int keyLen, AesKey &out);

void AesSlice(const unsigned char block[kAesBlockSize], AesSlices &out);
void AesUnslice(const AesSlices &in, unsigned char block[kAesBlockSize]);
// Encrypts a sliced block in place.
void AesEncryptSliced(const AesKey &key, AesSlices &state);
// Encrypts one block; input and output may be the same bytes.
void AesEncrypt(const AesKey &key, const unsigned char input[kAesBlockSize], unsigned char output[kAesBlockSize]);

}  // namespace tranpak

#endif
