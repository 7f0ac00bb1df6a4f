// Which keys, paddings and lengths each MAC algorithm takes, and the one
// entry that runs an algorithm on checked arguments.
#include "codec/mac.h"
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"
#include "tranpak.h"

#include <cstring>

namespace tranpak {

bool MacAlgorithmKnown(int algorithm)
{
    switch (algorithm) {
    case TP_MAC_LEGACY:
    case TP_MAC_ISO9797_1_ALG1:
    case TP_MAC_ISO9797_1_ALG3:
    case TP_MAC_TDES_CMAC:
    case TP_MAC_AES_CMAC:
        return true;
    default:
        return false;
    }
}

bool MacKeyLenFits(int algorithm, int keyLen)
{
    switch (algorithm) {
    case TP_MAC_LEGACY:
        return keyLen == 8;
    case TP_MAC_ISO9797_1_ALG1:
        return keyLen == 8 || keyLen == 16 || keyLen == 24;
    case TP_MAC_ISO9797_1_ALG3:
    case TP_MAC_TDES_CMAC:
        return keyLen == 16 || keyLen == 24;
    case TP_MAC_AES_CMAC:
        return keyLen == 16 || keyLen == 24 || keyLen == 32;
    default:
        return false;
    }
}

bool MacPaddingFits(int algorithm, int padding)
{
    if (algorithm != TP_MAC_ISO9797_1_ALG1 && algorithm != TP_MAC_ISO9797_1_ALG3)
        return MacAlgorithmKnown(algorithm);
    return padding == TP_MAC_PAD1 || padding == TP_MAC_PAD2;
}

int MacBlockSize(int algorithm) { return algorithm == TP_MAC_AES_CMAC ? kAesBlockSize : kDesBlockSize; }

int MacDefaultKeyLen(int algorithm) { return algorithm == TP_MAC_LEGACY ? 8 : 16; }

void ComputeMac(int algorithm, int padding, const unsigned char *key, int keyLen, const unsigned char *data, int len,
                unsigned char mac[kMacMaxBlock])
{
    switch (algorithm) {
    case TP_MAC_LEGACY: {
        // A caller's text may be secret, unlike a frame's data area that
        // travels in clear: its fold does not stay on the stack.
        unsigned char acc[kMacSize];
        FoldMac(data, len, acc);
        DesBlock(acc, mac, key);
        WipeSecret(acc, sizeof acc);
        return;
    }
    case TP_MAC_ISO9797_1_ALG1:
        Iso9797Alg1(key, keyLen, padding, data, len, mac);
        return;
    case TP_MAC_ISO9797_1_ALG3:
        Iso9797Alg3(key, keyLen, padding, data, len, mac);
        return;
    case TP_MAC_TDES_CMAC: {
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
    if (algorithm == TP_MAC_AES_CMAC) {
        AesKey k;
        AesKeySchedule(key, keyLen, k);
        if (method == TP_KCV_CMAC)
            AesCmac(k, kZeros, kAesBlockSize, out);
        else
            AesEncrypt(k, kZeros, out);
        WipeSecret(&k, sizeof k);
        return;
    }
    // Every other algorithm keys DES or triple DES, by the key's length.
    DesCipher c;
    DesCipherSetup(c, key, keyLen);
    if (method == TP_KCV_CMAC)
        TdesCmac(c, kZeros, kDesBlockSize, out);
    else
        DesCipherEncrypt(c, kZeros, out);
    WipeSecret(&c, sizeof c);
}

}  // namespace tranpak
