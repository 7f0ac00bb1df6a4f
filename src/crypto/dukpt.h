// DUKPT, derived unique key per transaction: a key of its own for every
// transaction of a terminal, from one base derivation key (BDK) that only
// the host holds.
//
// Triple DES (ANSI X9.24-1:2009). The key serial number (KSN) is 10
// bytes, its rightmost 21 bits the transaction counter. The initial key
// (IPEK) is the BDK's encryption of the KSN's leftmost 8 bytes (counter
// cleared), left half under the BDK, right half under the BDK XOR
// C0C0C0C000000000 in each 8 bytes. The key of counter c is reached from
// the IPEK by one non-reversible step for each 1-bit of c, from the
// highest down, each step over the KSN's rightmost 8 bytes with the counter
// taken up to that bit. A terminal never uses a counter with more than ten
// 1-bits: after one with ten it adds the counter's lowest 1-bit, so it
// skips the rest; that leaves 1,048,575 counters (2^20 - 1) before the
// counter runs out of its 21 bits. The working keys are the transaction
// key XOR a variant (X9.24-1:2009 A.6): PIN 00..FF, MAC request 00..FF00,
// MAC response 00..FF000000, data request 00..FF0000, data response
// 00..FF00000000, in each half.
//
// AES (ANSI X9.24-3:2017). The KSN is 12 bytes: the initial key ID (8
// bytes) and a 32-bit counter, of which a terminal uses only those with
// at most 16 1-bits, skipping the others as above: 2,448,023,842
// counters, the last FFFF0000. Every key comes from a derivation key by encrypting
// 16 bytes of derivation data, one block for each 16 bytes of the key:
//
//   byte 0   version 01        bytes 4-5  algorithm: 0 2TDEA, 1 3TDEA,
//   byte 1   block number 01,             2 AES-128, 3 AES-192, 4 AES-256
//            02 for the second bytes 6-7  the key's length in bits
//   bytes 2-3 key usage        bytes 8-15 the initial key ID (initial
//                                         key), else its rightmost 4 bytes
//                                         and the counter
//
// with usages 8001 initial key, 8000 derivation of the next key, 1000 PIN
// encryption, 2000 / 2001 / 2002 MAC generation / verification / both,
// 3000 / 3001 / 3002 data encryption / decryption / both, 0002 key
// encryption. A working key is no stronger than the key it derives
// from: a triple DES key from any AES key, an AES key no longer.
#ifndef TRANPAK_CRYPTO_DUKPT_H
#define TRANPAK_CRYPTO_DUKPT_H

#include <cstdint>

namespace tranpak {

// Triple DES.
inline constexpr int kDukptTdesKsnLen = 10;
inline constexpr int kDukptTdesKeyLen = 16;
inline constexpr int kDukptTdesCounterBits = 21;
inline constexpr int kDukptTdesMostOnes = 10;

// AES.
inline constexpr int kDukptAesKsnLen = 12;
inline constexpr int kDukptAesIdLen = 8;
inline constexpr int kDukptAesCounterBits = 32;
inline constexpr int kDukptAesMostOnes = 16;
inline constexpr int kDukptAesMaxKeyLen = 32;

// The working keys, numbered as the public header numbers TpDukptUsage.
inline constexpr int kDukptTransaction = 0;  // the key of the counter itself
inline constexpr int kDukptPin = 1;
inline constexpr int kDukptMacRequest = 2;     // AES: MAC generation
inline constexpr int kDukptMacResponse = 3;    // AES: MAC verification
inline constexpr int kDukptDataRequest = 4;    // AES: data encryption
inline constexpr int kDukptDataResponse = 5;   // AES: data decryption
inline constexpr int kDukptMacBoth = 6;        // AES only
inline constexpr int kDukptDataBoth = 7;       // AES only
inline constexpr int kDukptKeyEncryption = 8;  // AES only

// X9.24-3's algorithm indicators, and the length of each key.
inline constexpr int kDukpt2Tdea = 0;
inline constexpr int kDukpt3Tdea = 1;
inline constexpr int kDukptAes128 = 2;
inline constexpr int kDukptAes192 = 3;
inline constexpr int kDukptAes256 = 4;
int DukptKeyTypeLen(int keyType);  // 0 for another number
int DukptAesKeyType(int keyLen);   // of an AES key of 16, 24 or 32 bytes

// True when a terminal may use the counter: 1 to all ones in its bits,
// with at most the standard's count of 1-bits.
bool DukptTdesCounterUsable(uint32_t counter);
bool DukptAesCounterUsable(uint32_t counter);
uint32_t DukptTdesCounter(const unsigned char ksn[kDukptTdesKsnLen]);
uint32_t DukptAesCounter(const unsigned char ksn[kDukptAesKsnLen]);

// The IPEK of a BDK of 16 bytes (or 24: the variant in each third) and a
// KSN (its counter ignored).
void DukptTdesInitialKey(const unsigned char *bdk, int bdkLen, const unsigned char ksn[kDukptTdesKsnLen],
                         unsigned char ipek[kDukptTdesKeyLen]);
// The transaction key of the KSN's counter, from the IPEK (the host's
// derivation).
void DukptTdesTransactionKey(const unsigned char ipek[kDukptTdesKeyLen], const unsigned char ksn[kDukptTdesKsnLen],
                             unsigned char key[kDukptTdesKeyLen]);
// One non-reversible step: the key that follows key for the 8 bytes of
// data (the KSN's rightmost 8 bytes with the counter so far).
void DukptTdesNextKey(const unsigned char key[kDukptTdesKeyLen], const unsigned char data[8],
                      unsigned char out[kDukptTdesKeyLen]);
// A working key of a transaction key: the usage's variant (false for a
// usage triple DES has none of).
bool DukptTdesWorkingKey(int usage, const unsigned char key[kDukptTdesKeyLen], unsigned char out[kDukptTdesKeyLen]);

// The initial key of an AES BDK (16, 24 or 32 bytes: it is as long) and an
// initial key ID.
void DukptAesInitialKey(const unsigned char *bdk, int bdkLen, const unsigned char id[kDukptAesIdLen],
                        unsigned char *ik);
// The derivation key of the KSN's counter, from the initial key of
// keyLen bytes, into key (as long).
void DukptAesTransactionKey(const unsigned char *ik, int keyLen, const unsigned char ksn[kDukptAesKsnLen],
                            unsigned char *key);
// The key of keyType for usage (kDukptTransaction: the next derivation key
// of that counter, as the terminal's registers hold it) and the KSN's ID
// and counter, from a derivation key of keyLen bytes. False when the usage
// or type is not one, or the working key is a longer AES key than key.
bool DukptAesDerive(const unsigned char *key, int keyLen, int usage, int keyType,
                    const unsigned char ksn[kDukptAesKsnLen], unsigned char *out);

// A terminal's registers: the KSN, the counter to use next, and one
// future key per counter bit. Register b holds the key of the counter
// that is the next counter's bits above b and bit b, once the terminal has
// used the key of the bits above b.
inline constexpr int kDukptMostRegisters = kDukptAesCounterBits;
struct DukptTerminal {
    uint32_t magic;    // kDukptTerminalTdes or kDukptTerminalAes once loaded
    uint32_t counter;  // the counter to use next; 0 once they have run out
    int keyLen;        // of the registers: 16 (TDES), 16, 24 or 32 (AES)
    unsigned char ksn[kDukptAesKsnLen];
    unsigned char future[kDukptMostRegisters][kDukptAesMaxKeyLen];
};
inline constexpr uint32_t kDukptTerminalTdes = 0x54444B31;  // "TDK1"
inline constexpr uint32_t kDukptTerminalAes = 0x41444B31;   // "ADK1"

// Loads the initial key and the initial KSN (its counter 0) and fills the
// registers from the initial key; the next counter is 1. False for a KSN
// whose counter is not 0.
bool DukptTerminalLoad(DukptTerminal &t, bool aes, const unsigned char *ik, int ikLen, const unsigned char *ksn);
// The key of the counter to use now, and its KSN. False once the counters
// have run out.
bool DukptTerminalCurrent(const DukptTerminal &t, const unsigned char **key, unsigned char *ksn);
// Moves to the next counter: fills the registers below the current one
// from its key (when it has fewer 1-bits than the most), wipes its key,
// and skips counters with too many 1-bits. False once they have run out.
bool DukptTerminalAdvance(DukptTerminal &t);

}  // namespace tranpak

#endif
