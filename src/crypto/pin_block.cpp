// ISO 9564-1 PIN blocks (the table in pin_block.h). Every PIN field, PAN
// field and round key is wiped before return.
#include "crypto/pin_block.h"

#include "crypto/aes.h"
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"
#include "os/os.h"

#include <cstring>

namespace tranpak {
namespace {

constexpr int kTdesBlock = kDesBlockSize;
constexpr int kAesBlock = kAesBlockSize;
constexpr int kFieldNibbles = 16;    // the PIN field's nibbles that hold control, length, PIN and fill
constexpr int kPanFieldDigits = 12;  // formats 0 and 3
constexpr int kMostPanDigitsM = 7;   // format 4's M: 19 digits less 12
constexpr int kFillNibbles = 2 * kPinFillBytes;
// Random bytes drawn for format 3's fill at a time, and how many draws a
// fill may take before the randomness is taken to be broken (a draw gives
// 24 usable nibbles on average; 14 are needed at most).
constexpr int kDrawBytes = 16;
constexpr int kMostDraws = 8;

int Nibble(const unsigned char *b, int i) { return (b[i / 2] >> (i % 2 == 0 ? 4 : 0)) & 0x0F; }

void SetNibble(unsigned char *b, int i, int v)
{
    const int shift = i % 2 == 0 ? 4 : 0;
    b[i / 2] = static_cast<unsigned char>((b[i / 2] & ~(0x0F << shift)) | ((v & 0x0F) << shift));
}

// The count of digits of text, or -1 when it holds anything else or more
// than most of them.
int DigitCount(const char *text, int most)
{
    if (text == nullptr)
        return -1;
    int n = 0;
    for (; text[n] != '\0'; ++n)
        if (n == most || text[n] < '0' || text[n] > '9')
            return -1;
    return n;
}

bool KeyFits(int format, int keyLen)
{
    if (format == 4)
        return keyLen == 16 || keyLen == 24 || keyLen == 32;
    return keyLen == 16 || keyLen == 24;
}

// The PAN's digits for the format, or -1 when they do not fit it.
int PanDigits(int format, const char *pan)
{
    if (format == 1)
        return 0;
    const int n = DigitCount(pan, kPanMaxDigits);
    const int least = format == 4 ? kPanMinDigitsAes : kPanMinDigitsTdes;
    return n < least ? -1 : n;
}

// Formats 0 and 3: 0000 and the twelve digits left of the check digit.
void TdesPanField(const char *pan, int digits, unsigned char field[kTdesBlock])
{
    std::memset(field, 0, kTdesBlock);
    const char *twelve = pan + digits - 1 - kPanFieldDigits;
    for (int i = 0; i < kPanFieldDigits; ++i)
        SetNibble(field, 4 + i, twelve[i] - '0');
}

// Format 4: M, the digits (right-aligned in twelve when fewer), zeros.
void AesPanField(const char *pan, int digits, unsigned char field[kAesBlock])
{
    std::memset(field, 0, kAesBlock);
    const int m = digits > kPanFieldDigits ? digits - kPanFieldDigits : 0;
    SetNibble(field, 0, m);
    const int start = 1 + (digits < kPanFieldDigits ? kPanFieldDigits - digits : 0);
    for (int i = 0; i < digits; ++i)
        SetNibble(field, start + i, pan[i] - '0');
}

// Format 3's fill from the system: nibbles below 12 taken mod 6, above A.
bool RandomFill3(unsigned char fill[kPinFillBytes])
{
    unsigned char draw[kDrawBytes];
    int got = 0;
    for (int d = 0; d < kMostDraws && got < kFillNibbles; ++d) {
        if (os::RandomBytes(draw, kDrawBytes) != 0)
            break;
        for (int i = 0; i < 2 * kDrawBytes && got < kFillNibbles; ++i) {
            const int v = Nibble(draw, i);
            if (v < 12)
                SetNibble(fill, got++, 0xA + v % 6);
        }
    }
    WipeSecret(draw, sizeof draw);
    return got == kFillNibbles;
}

// The PIN field: control nibble, length, digits, then the fill.
PinFault PinField(int format, const char *pin, int n, const unsigned char *fill, unsigned char field[kAesBlock])
{
    unsigned char own[kPinFillBytes];
    const unsigned char *f = fill;
    if (f == nullptr && format != 0) {
        const bool drawn = format == 3 ? RandomFill3(own) : os::RandomBytes(own, kPinFillBytes) == 0;
        if (!drawn) {
            WipeSecret(own, sizeof own);
            return PinFault::kRandom;
        }
        f = own;
    }
    std::memset(field, 0, kAesBlock);
    SetNibble(field, 0, format);
    SetNibble(field, 1, n);
    for (int i = 0; i < n; ++i)
        SetNibble(field, 2 + i, pin[i] - '0');
    PinFault fault = PinFault::kNone;
    for (int i = 2 + n, k = 0; i < kFieldNibbles; ++i, ++k) {
        int v = 0xF;
        if (format == 1 || format == 3)
            v = Nibble(f, k);
        else if (format == 4)
            v = 0xA;
        if (format == 3 && v < 0xA)
            fault = PinFault::kFill;
        SetNibble(field, i, v);
    }
    if (format == 4)
        std::memcpy(field + kTdesBlock, f, kPinFillBytes);
    WipeSecret(own, sizeof own);
    return fault;
}

// The PIN of a decoded PIN field, or kBlock when the field is not one of
// the format's. Every nibble is looked at, whatever the length says.
PinFault ParsePinField(int format, const unsigned char *field, char pin[kPinMaxDigits + 1])
{
    const int n = Nibble(field, 1);
    bool ok = Nibble(field, 0) == format && n >= kPinMinDigits && n <= kPinMaxDigits;
    for (int i = 2; i < kFieldNibbles; ++i) {
        const int v = Nibble(field, i);
        if (i < 2 + n)
            ok = ok && v <= 9;
        else if (format == 0)
            ok = ok && v == 0xF;
        else if (format == 3)
            ok = ok && v >= 0xA;
        else if (format == 4)
            ok = ok && v == 0xA;
    }
    if (!ok)
        return PinFault::kBlock;
    for (int i = 0; i < n; ++i)
        pin[i] = static_cast<char>('0' + Nibble(field, 2 + i));
    pin[n] = '\0';
    return PinFault::kNone;
}

PinFault CheckArguments(int format, int keyLen, const char *pan, int *panDigits)
{
    if (PinBlockSize(format) == 0)
        return PinFault::kFormat;
    if (!KeyFits(format, keyLen))
        return PinFault::kKeyLength;
    *panDigits = PanDigits(format, pan);
    return *panDigits < 0 ? PinFault::kPan : PinFault::kNone;
}

}  // namespace

int PinBlockSize(int format)
{
    if (format == 0 || format == 1 || format == 3)
        return kTdesBlock;
    return format == 4 ? kAesBlock : 0;
}

PinFault MakePinBlock(int format, const unsigned char *key, int keyLen, const char *pin, const char *pan,
                      const unsigned char *fill, unsigned char out[kPinBlockMax])
{
    int panDigits = 0;
    PinFault fault = CheckArguments(format, keyLen, pan, &panDigits);
    if (fault != PinFault::kNone)
        return fault;
    const int n = DigitCount(pin, kPinMaxDigits);
    if (n < kPinMinDigits)
        return PinFault::kPin;
    unsigned char field[kAesBlock], panField[kAesBlock];
    fault = PinField(format, pin, n, fill, field);
    if (fault == PinFault::kNone && format == 4) {
        AesKey k;
        AesKeySchedule(key, keyLen, k);
        AesPanField(pan, panDigits, panField);
        AesEncrypt(k, field, out);
        for (int i = 0; i < kAesBlock; ++i)
            out[i] ^= panField[i];
        AesEncrypt(k, out, out);
        WipeSecret(&k, sizeof k);
    } else if (fault == PinFault::kNone) {
        DesCipher c;
        DesCipherSetup(c, key, keyLen);
        std::memset(panField, 0, sizeof panField);
        if (format != 1)
            TdesPanField(pan, panDigits, panField);
        for (int i = 0; i < kTdesBlock; ++i)
            field[i] ^= panField[i];
        DesCipherEncrypt(c, field, out);
        WipeSecret(&c, sizeof c);
    }
    WipeSecret(field, sizeof field);
    WipeSecret(panField, sizeof panField);
    return fault;
}

PinFault ReadPinBlock(int format, const unsigned char *key, int keyLen, const unsigned char *block, const char *pan,
                      char pin[kPinMaxDigits + 1])
{
    int panDigits = 0;
    const PinFault fault = CheckArguments(format, keyLen, pan, &panDigits);
    if (fault != PinFault::kNone)
        return fault;
    unsigned char field[kAesBlock], panField[kAesBlock];
    std::memset(field, 0, sizeof field);
    std::memset(panField, 0, sizeof panField);
    if (format == 4) {
        AesKey k;
        AesKeySchedule(key, keyLen, k);
        AesPanField(pan, panDigits, panField);
        AesDecrypt(k, block, field);
        for (int i = 0; i < kAesBlock; ++i)
            field[i] ^= panField[i];
        AesDecrypt(k, field, field);
        WipeSecret(&k, sizeof k);
    } else {
        DesCipher c;
        DesCipherSetup(c, key, keyLen);
        if (format != 1)
            TdesPanField(pan, panDigits, panField);
        DesCipherDecrypt(c, block, field);
        for (int i = 0; i < kTdesBlock; ++i)
            field[i] ^= panField[i];
        WipeSecret(&c, sizeof c);
    }
    const PinFault parsed = ParsePinField(format, field, pin);
    WipeSecret(field, sizeof field);
    WipeSecret(panField, sizeof panField);
    return parsed;
}

PinFault CheckPinBlock(int format, const unsigned char *key, int keyLen, const unsigned char *block, const char *pan,
                       const char *pin, bool *same)
{
    const int n = DigitCount(pin, kPinMaxDigits);
    if (n < kPinMinDigits)
        return PinFault::kPin;
    char found[kPinMaxDigits + 1];
    const PinFault fault = ReadPinBlock(format, key, keyLen, block, pan, found);
    if (fault == PinFault::kNone) {
        // Both PINs padded to the longest, each led by its length.
        unsigned char a[kPinMaxDigits + 1] = {}, b[kPinMaxDigits + 1] = {};
        a[0] = static_cast<unsigned char>(n);
        b[0] = static_cast<unsigned char>(std::strlen(found));
        std::memcpy(a + 1, pin, static_cast<size_t>(n));
        std::memcpy(b + 1, found, b[0]);
        *same = SameBytes(a, b, sizeof a);
        WipeSecret(a, sizeof a);
        WipeSecret(b, sizeof b);
    }
    WipeSecret(found, sizeof found);
    return fault;
}

}  // namespace tranpak
