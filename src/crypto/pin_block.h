// ISO 9564-1 PIN blocks: formats 0, 1 and 3 (one 8-byte block under
// triple DES) and format 4 (one 16-byte block under AES).
//
//   format  PIN field (nibbles)                    PAN field               cipher
//   0       0 N P..P F..F                          0000 + 12 PAN digits*   TDES(PIN ^ PAN)
//   1       1 N P..P R..R (R: 0 to F, random)      none                    TDES(PIN)
//   3       3 N P..P R..R (R: A to F, random)      0000 + 12 PAN digits*   TDES(PIN ^ PAN)
//   4       4 N P..P A..A (to nibble 15), then     M + PAN + 0..0          AES(AES(PIN) ^ PAN)
//           8 random bytes                         (M = digits - 12)
//
//   * the rightmost twelve digits of the PAN without its check digit
//
// N is the PIN's length, 4 to 12 digits. Format 4's PAN field holds the
// PAN's digits after one nibble M (its length less 12, 0 for a PAN of 12
// digits or fewer, which are right-aligned in 12 zero nibbles), then zero
// nibbles to 32. Recovery runs the cipher backwards (format 4: decrypt,
// XOR the PAN field, decrypt) and refuses a PIN field whose control
// nibble, length, digits or fill are not the format's.
//
// Keys: triple DES keys of 16 bytes (K1 K2 K1) or 24 (K1 K2 K3) for formats
// 0, 1 and 3 (a single DES key of 8 bytes is refused: ISO 9564-1 no longer
// allows it); AES keys of 16, 24 or 32 bytes for format 4.
#ifndef TRANPAK_CRYPTO_PIN_BLOCK_H
#define TRANPAK_CRYPTO_PIN_BLOCK_H

namespace tranpak {

inline constexpr int kPinMinDigits = 4;
inline constexpr int kPinMaxDigits = 12;
inline constexpr int kPanMaxDigits = 19;
// Formats 0 and 3 take twelve digits left of the check digit.
inline constexpr int kPanMinDigitsTdes = 13;
inline constexpr int kPanMinDigitsAes = 1;
// The longest block (format 4) and the fill a block takes: formats 1 and 3
// take its nibbles one after the other after the PIN, format 4 its 8 bytes.
inline constexpr int kPinBlockMax = 16;
inline constexpr int kPinFillBytes = 8;

enum class PinFault {
    kNone,
    kFormat,     // not 0, 1, 3 or 4
    kKeyLength,  // not a key length of the format's cipher
    kPin,        // not 4 to 12 digits
    kPan,        // not digits, too short for the format or longer than 19
    kFill,       // a fixed fill nibble the format does not allow (3: A to F)
    kBlock,      // the block decoded is not a PIN field of the format
    kRandom,     // the system gave no randomness for the fill
};

// The block's size for the format: 8, 16 (format 4), 0 for another.
int PinBlockSize(int format);

// The block of pin (digits, NUL-terminated) for pan under the key into out
// (PinBlockSize bytes). fill: kPinFillBytes bytes to use as the format's
// random fill, or nullptr for the system's randomness; format 0 takes
// none. pan may be nullptr for format 1.
PinFault MakePinBlock(int format, const unsigned char *key, int keyLen, const char *pin, const char *pan,
                      const unsigned char *fill, unsigned char out[kPinBlockMax]);
// The PIN in a block, into pin (up to kPinMaxDigits digits and a NUL).
PinFault ReadPinBlock(int format, const unsigned char *key, int keyLen, const unsigned char *block, const char *pan,
                      char pin[kPinMaxDigits + 1]);
// kNone and *same set when the block holds a PIN; *same true when it is
// pin. The two are compared without stopping at the first difference.
PinFault CheckPinBlock(int format, const unsigned char *key, int keyLen, const unsigned char *block, const char *pan,
                       const char *pin, bool *same);

}  // namespace tranpak

#endif
