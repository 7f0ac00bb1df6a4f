// AES (FIPS 197) encryption of one 16-byte block, for AES-CMAC, and its
// inverse cipher, for PIN blocks of format 4 and DUKPT, by one of two paths, each free of branches and addresses chosen
// by key or data:
//   kInstructions  the processor's AES instructions (x86 AES-NI), where
//                  the build carries them and the processor has them
//   kPortable      bit-sliced and free of tables, everywhere else: the
//                  state is held as eight 16-bit slices, slice b holding
//                  bit b of each of the sixteen state bytes, and every step
//                  is a fixed sequence of logic operations and constant
//                  shifts
// The path is chosen when the key is expanded and travels in the AesKey.
#ifndef TRANPAK_CRYPTO_AES_H
#define TRANPAK_CRYPTO_AES_H

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

enum class AesPath { kPortable, kInstructions };

// The round keys of one key, in the form its path takes.
struct AesKey {
    int rounds;
    AesPath path;
    union {
        AesSlices round[kAesMaxRounds + 1];                     // kPortable: sliced
        unsigned char bytes[kAesMaxRounds + 1][kAesBlockSize];  // kInstructions: as FIPS 197 writes them
    };
};

// True when the processor's AES instructions can be used here.
bool AesInstructionsAvailable();
// Expands a key of 16, 24 or 32 bytes for the instructions where they are
// available, else for the portable path; false for any other length.
bool AesKeySchedule(const unsigned char *key, int keyLen, AesKey &out);
// The same on the path given (tests hold both paths to the same vectors);
// false too when that path is kInstructions and they are not available.
bool AesKeyScheduleOn(AesPath path, const unsigned char *key, int keyLen, AesKey &out);

void AesSlice(const unsigned char block[kAesBlockSize], AesSlices &out);
void AesUnslice(const AesSlices &in, unsigned char block[kAesBlockSize]);
// Encrypts a sliced block in place (a key of the portable path).
void AesEncryptSliced(const AesKey &key, AesSlices &state);
// Encrypts one block on the key's path; input and output may be the same
// bytes.
void AesEncrypt(const AesKey &key, const unsigned char input[kAesBlockSize], unsigned char output[kAesBlockSize]);
// FIPS 197's InvCipher of a sliced block in place (a key of the portable
// path): the same round keys, taken from the last.
void AesDecryptSliced(const AesKey &key, AesSlices &state);
// Decrypts one block on the key's path; input and output may be the same
// bytes.
void AesDecrypt(const AesKey &key, const unsigned char input[kAesBlockSize], unsigned char output[kAesBlockSize]);

}  // namespace tranpak

#endif
