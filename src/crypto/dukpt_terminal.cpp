// A DUKPT terminal's future key registers, for both ciphers (dukpt.h).
//
//   counter c in use, b its lowest 1-bit, K the key in register b
//   after use: registers j < b get the keys of c | 1<<j derived from K
//              (only when c has fewer 1-bits than the most), then
//              c + 1 is next, or c + (1<<b) when c has the most 1-bits
//
// so the register of the next counter's lowest 1-bit always holds its key.
#include "crypto/dukpt.h"

#include "crypto/secret.h"

#include <bit>
#include <cstring>

namespace tranpak {
namespace {

bool IsAes(const DukptTerminal &t) { return t.magic == kDukptTerminalAes; }
int CounterBits(const DukptTerminal &t) { return IsAes(t) ? kDukptAesCounterBits : kDukptTdesCounterBits; }
int MostOnes(const DukptTerminal &t) { return IsAes(t) ? kDukptAesMostOnes : kDukptTdesMostOnes; }
int KsnLen(const DukptTerminal &t) { return IsAes(t) ? kDukptAesKsnLen : kDukptTdesKsnLen; }

// The terminal's KSN with another counter.
void KsnWith(const DukptTerminal &t, uint32_t counter, unsigned char *ksn)
{
    std::memcpy(ksn, t.ksn, static_cast<size_t>(KsnLen(t)));
    if (IsAes(t)) {
        for (int i = 0; i < 4; ++i)
            ksn[kDukptAesIdLen + i] = static_cast<unsigned char>(counter >> (24 - 8 * i));
        return;
    }
    ksn[7] = static_cast<unsigned char>((ksn[7] & 0xE0) | (counter >> 16));
    ksn[8] = static_cast<unsigned char>(counter >> 8);
    ksn[9] = static_cast<unsigned char>(counter);
}

// Register j from key: the key of counter.
void Fill(DukptTerminal &t, const unsigned char *key, uint32_t counter, int j)
{
    unsigned char ksn[kDukptAesKsnLen];
    KsnWith(t, counter, ksn);
    if (IsAes(t))
        DukptAesDerive(key, t.keyLen, kDukptTransaction, DukptAesKeyType(t.keyLen), ksn, t.future[j]);
    else
        DukptTdesNextKey(key, ksn + kDukptTdesKsnLen - 8, t.future[j]);
    WipeSecret(ksn, sizeof ksn);
}

int LowestBit(uint32_t c) { return std::countr_zero(c); }

// A state Load left (or Advance moved on), with a counter still to use:
// storage never loaded, or overwritten, is not read as one, so its key
// length can take no copy past a register.
bool Usable(const DukptTerminal &t)
{
    if (t.magic == kDukptTerminalTdes)
        return t.keyLen == kDukptTdesKeyLen && t.counter != 0 && t.counter >> kDukptTdesCounterBits == 0;
    return t.magic == kDukptTerminalAes && (t.keyLen == 16 || t.keyLen == 24 || t.keyLen == kDukptAesMaxKeyLen) &&
           t.counter != 0;
}

}  // namespace

bool DukptTerminalLoad(DukptTerminal &t, bool aes, const unsigned char *ik, int ikLen, const unsigned char *ksn)
{
    WipeSecret(&t, sizeof t);
    t.magic = aes ? kDukptTerminalAes : kDukptTerminalTdes;
    t.keyLen = ikLen;
    std::memcpy(t.ksn, ksn, static_cast<size_t>(KsnLen(t)));
    const uint32_t counter = aes ? DukptAesCounter(ksn) : DukptTdesCounter(ksn);
    if (counter != 0) {
        WipeSecret(&t, sizeof t);
        return false;
    }
    for (int j = 0; j < CounterBits(t); ++j)
        Fill(t, ik, 1u << j, j);
    t.counter = 1;
    return true;
}

bool DukptTerminalCurrent(const DukptTerminal &t, const unsigned char **key, unsigned char *ksn)
{
    if (!Usable(t))
        return false;
    *key = t.future[LowestBit(t.counter)];
    KsnWith(t, t.counter, ksn);
    return true;
}

bool DukptTerminalAdvance(DukptTerminal &t)
{
    if (!Usable(t))
        return false;
    const uint32_t c = t.counter;
    const int b = LowestBit(c);
    const bool full = std::popcount(c) >= MostOnes(t);
    if (!full)
        for (int j = 0; j < b; ++j)
            Fill(t, t.future[b], c | (1u << j), j);
    WipeSecret(t.future[b], sizeof t.future[b]);
    // The next counter in 64 bits, so running past the top is seen.
    const uint64_t next = full ? uint64_t{c} + (uint64_t{1} << b) : uint64_t{c} + 1;
    if (next >> CounterBits(t) != 0) {
        const uint32_t magic = t.magic;
        WipeSecret(&t, sizeof t);
        t.magic = magic;  // loaded, and run out
        return false;
    }
    t.counter = static_cast<uint32_t>(next);
    return true;
}

}  // namespace tranpak
