// TpPinBlock, TpPinBlockWithFill, TpPinFromBlock, TpPinCheck and the DUKPT
// functions. None takes a session, so they refuse without a word, as TpMac
// does: no line of theirs could name a PIN or a key.
#include "crypto/dukpt.h"
#include "crypto/pin_block.h"
#include "crypto/secret.h"
#include "tranpak.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace tranpak {
namespace {

static_assert(sizeof(DukptTerminal) <= TP_DUKPT_TERMINAL_SIZE, "TP_DUKPT_TERMINAL_SIZE too small");
static_assert(alignof(DukptTerminal) <= alignof(TpDukptTerminal), "TpDukptTerminal aligned too little");
static_assert(kPinBlockMax == TP_PIN_BLOCK_MAX && kPinFillBytes == TP_PIN_FILL_SIZE &&
              kPinMaxDigits == TP_PIN_MAX_DIGITS);
static_assert(kDukptTransaction == TP_DUKPT_TRANSACTION && kDukptPin == TP_DUKPT_PIN &&
              kDukptMacRequest == TP_DUKPT_MAC_REQUEST && kDukptMacResponse == TP_DUKPT_MAC_RESPONSE &&
              kDukptDataRequest == TP_DUKPT_DATA_REQUEST && kDukptDataResponse == TP_DUKPT_DATA_RESPONSE &&
              kDukptMacBoth == TP_DUKPT_MAC_BOTH && kDukptDataBoth == TP_DUKPT_DATA_BOTH &&
              kDukptKeyEncryption == TP_DUKPT_KEY_ENCRYPTION);
static_assert(kDukpt2Tdea == TP_DUKPT_KEY_2TDEA && kDukptAes256 == TP_DUKPT_KEY_AES256);
static_assert(kDukptTdesKsnLen == TP_DUKPT_TDES_KSN_SIZE && kDukptAesKsnLen == TP_DUKPT_AES_KSN_SIZE &&
              kDukptAesMaxKeyLen == TP_DUKPT_MAX_KEY);

const unsigned char *Bytes(const void *p) { return static_cast<const unsigned char *>(p); }

bool AesKeyLen(int n) { return n == 16 || n == 24 || n == 32; }

// The BDK and KSN of a derivation, checked: the KSN's length is the
// kind's, the BDK's one of its cipher.
bool DerivationFits(int kind, const void *bdk, int bdkLen, const void *ksn, int ksnLen)
{
    if (bdk == nullptr || ksn == nullptr)
        return false;
    if (kind == TP_DUKPT_TDES)
        return (bdkLen == 16 || bdkLen == 24) && ksnLen == kDukptTdesKsnLen;
    return kind == TP_DUKPT_AES && AesKeyLen(bdkLen) && ksnLen == kDukptAesKsnLen;
}

// A working key of a transaction key (the counter's own key), for usage
// and keyType, into out (keyLen bytes, checked by the caller).
bool WorkingKey(bool aes, const unsigned char *txKey, int txLen, const unsigned char *ksn, int usage, int keyType,
                unsigned char *out)
{
    if (!aes)
        return keyType == TP_DUKPT_KEY_2TDEA && DukptTdesWorkingKey(usage, txKey, out);
    if (usage == TP_DUKPT_TRANSACTION) {
        if (keyType != DukptAesKeyType(txLen))
            return false;
        std::memcpy(out, txKey, static_cast<size_t>(txLen));
        return true;
    }
    return DukptAesDerive(txKey, txLen, usage, keyType, ksn, out);
}

// The terminal state behind t, when t is aligned storage.
DukptTerminal *TerminalOf(TpDukptTerminal *t)
{
    if (t == nullptr || reinterpret_cast<uintptr_t>(t) % alignof(TpDukptTerminal) != 0)
        return nullptr;
    return std::launder(reinterpret_cast<DukptTerminal *>(t));
}

}  // namespace
}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL TpPinBlockWithFill(int format, const void *key, int keyLen, const char *pin,
                                                           const char *pan, const unsigned char *fill,
                                                           unsigned char *block)
{
    if (key == nullptr || block == nullptr || (fill == nullptr && format != TP_PIN_FORMAT_0))
        return -1;
    return MakePinBlock(format, Bytes(key), keyLen, pin, pan, fill, block) == PinFault::kNone ? 0 : -1;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpPinBlock(int format, const void *key, int keyLen, const char *pin,
                                                   const char *pan, unsigned char *block)
{
    if (key == nullptr || block == nullptr)
        return -1;
    return MakePinBlock(format, Bytes(key), keyLen, pin, pan, nullptr, block) == PinFault::kNone ? 0 : -1;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpPinFromBlock(int format, const void *key, int keyLen,
                                                       const unsigned char *block, const char *pan, char *pin,
                                                       int pinSize)
{
    if (key == nullptr || block == nullptr || pin == nullptr || pinSize < kPinMaxDigits + 1)
        return -1;
    return ReadPinBlock(format, Bytes(key), keyLen, block, pan, pin) == PinFault::kNone ? 0 : -1;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpPinCheck(int format, const void *key, int keyLen, const unsigned char *block,
                                                   const char *pan, const char *pin)
{
    if (key == nullptr || block == nullptr)
        return -1;
    bool same = false;
    if (CheckPinBlock(format, Bytes(key), keyLen, block, pan, pin, &same) != PinFault::kNone)
        return -1;
    return same ? 0 : 1;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpDukptInitialKey(int kind, const void *bdk, int bdkLen, const void *ksn,
                                                          int ksnLen, unsigned char *key, int keyLen)
{
    // The AES initial key ID alone is a KSN too.
    const int asKsn = kind == TP_DUKPT_AES && ksnLen == kDukptAesIdLen ? kDukptAesKsnLen : ksnLen;
    if (!DerivationFits(kind, bdk, bdkLen, ksn, asKsn) || key == nullptr)
        return -1;
    if (kind == TP_DUKPT_TDES) {
        if (keyLen != kDukptTdesKeyLen)
            return -1;
        DukptTdesInitialKey(Bytes(bdk), bdkLen, Bytes(ksn), key);
        return 0;
    }
    if (keyLen != bdkLen)
        return -1;
    DukptAesInitialKey(Bytes(bdk), bdkLen, Bytes(ksn), key);
    return 0;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpDukptDeriveKey(int kind, const void *bdk, int bdkLen, const void *ksn,
                                                         int ksnLen, int usage, int keyType, unsigned char *key,
                                                         int keyLen)
{
    if (!DerivationFits(kind, bdk, bdkLen, ksn, ksnLen) || key == nullptr || DukptKeyTypeLen(keyType) != keyLen)
        return -1;
    const bool aes = kind == TP_DUKPT_AES;
    const unsigned char *k = Bytes(ksn);
    if (aes ? !DukptAesCounterUsable(DukptAesCounter(k)) : !DukptTdesCounterUsable(DukptTdesCounter(k)))
        return -1;
    unsigned char ik[kDukptAesMaxKeyLen], tx[kDukptAesMaxKeyLen];
    int txLen = kDukptTdesKeyLen;
    if (aes) {
        txLen = bdkLen;
        DukptAesInitialKey(Bytes(bdk), bdkLen, k, ik);
        DukptAesTransactionKey(ik, txLen, k, tx);
    } else {
        DukptTdesInitialKey(Bytes(bdk), bdkLen, k, ik);
        DukptTdesTransactionKey(ik, k, tx);
    }
    const bool ok = WorkingKey(aes, tx, txLen, k, usage, keyType, key);
    WipeSecret(ik, sizeof ik);
    WipeSecret(tx, sizeof tx);
    return ok ? 0 : -1;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpDukptTerminalLoad(TpDukptTerminal *t, int kind, const void *ik, int ikLen,
                                                            const void *ksn, int ksnLen)
{
    DukptTerminal *term = TerminalOf(t);
    if (term == nullptr || ik == nullptr || ksn == nullptr)
        return -1;
    const bool aes = kind == TP_DUKPT_AES;
    if (aes ? !AesKeyLen(ikLen) || ksnLen != kDukptAesKsnLen
            : kind != TP_DUKPT_TDES || ikLen != kDukptTdesKeyLen || ksnLen != kDukptTdesKsnLen)
        return -1;
    return DukptTerminalLoad(*term, aes, Bytes(ik), ikLen, Bytes(ksn)) ? 0 : -1;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpDukptTerminalKey(TpDukptTerminal *t, int usage, int keyType,
                                                           unsigned char *key, int keyLen, unsigned char *ksn,
                                                           int ksnLen)
{
    DukptTerminal *term = TerminalOf(t);
    if (term == nullptr || key == nullptr || DukptKeyTypeLen(keyType) != keyLen)
        return -1;
    const bool aes = term->magic == kDukptTerminalAes;
    if (ksn != nullptr && ksnLen != (aes ? kDukptAesKsnLen : kDukptTdesKsnLen))
        return -1;
    const unsigned char *current = nullptr;
    unsigned char now[kDukptAesKsnLen];
    if (!DukptTerminalCurrent(*term, &current, now))
        return -1;
    const bool ok = WorkingKey(aes, current, term->keyLen, now, usage, keyType, key);
    if (ok && ksn != nullptr)
        std::memcpy(ksn, now, static_cast<size_t>(ksnLen));
    return ok ? 0 : -1;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpDukptTerminalAdvance(TpDukptTerminal *t)
{
    DukptTerminal *term = TerminalOf(t);
    return term != nullptr && DukptTerminalAdvance(*term) ? 0 : -1;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpDukptTerminalWipe(TpDukptTerminal *t)
{
    if (t == nullptr)
        return -1;
    WipeSecret(t, sizeof *t);
    return 0;
}
