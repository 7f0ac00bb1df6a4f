// The one entry that runs a MAC algorithm on checked arguments, and key
// check values.
#include "crypto/fold.h"
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"

#include <cstring>

namespace tranpak {

int MacBlockSize(int algorithm) { return algorithm == kMacAesCmac ? kAesBlockSize : kDesBlockSize; }

void ComputeMac(int algorithm, int padding, const unsigned char *key, int keyLen, const unsigned char *data, int len,
                unsigned char mac[kMacMaxBlock])
{
    switch (algorithm) {
    case kMacLegacy: {
        // A caller's text may be secret, unlike a frame's data area that
        // travels in clear: its fold does not stay on the stack.
        unsigned char acc[kFoldSize];
        FoldMac(data, len, acc);
        DesBlock(acc, mac, key);
        WipeSecret(acc, sizeof acc);
        return;
    }
    case kMacIso9797Alg1:
        Iso9797Alg1(key, keyLen, padding, data, len, mac);
        return;
    case kMacIso9797Alg3:
        Iso9797Alg3(key, keyLen, padding, data, len, mac);
        return;
    case kMacTdesCmac: {
        DesCipher c;
        DesCipherSetup(c, key, keyLen);
        TdesCmac(c, data, len, mac);
        WipeSecret(&c, sizeof c);
        return;
    }
    default: {
        AesKey k;
        AesKeySchedule(key, keyLen, k);
        AesCmac(k, data, len, mac);
        WipeSecret(&k, sizeof k);
        return;
    }
    }
}

void KeyCheckBlock(int method, int algorithm, const unsigned char *key, int keyLen, unsigned char out[kMacMaxBlock])
{
    static constexpr unsigned char kZeros[kMacMaxBlock] = {};
    if (algorithm == kMacAesCmac) {
        AesKey k;
        AesKeySchedule(key, keyLen, k);
        if (method == kKcvCmac)
            AesCmac(k, kZeros, kAesBlockSize, out);
        else
            AesEncrypt(k, kZeros, out);
        WipeSecret(&k, sizeof k);
        return;
    }
    // Every other algorithm keys DES or triple DES, by the key's length.
    DesCipher c;
    DesCipherSetup(c, key, keyLen);
    if (method == kKcvCmac)
        TdesCmac(c, kZeros, kDesBlockSize, out);
    else
        DesCipherEncrypt(c, kZeros, out);
    WipeSecret(&c, sizeof c);
}

}  // namespace tranpak
