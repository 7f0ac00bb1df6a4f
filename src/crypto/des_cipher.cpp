// Single or triple DES under a MAC key of 8, 16 or 24 bytes.
#include "crypto/mac_algorithms.h"

namespace tranpak {

void DesCipherSetup(DesCipher &c, const unsigned char *key, int keyLen)
{
    c.triple = keyLen > kDesBlockSize;
    DesKeySchedule(key, c.k[0]);
    if (!c.triple)
        return;
    DesKeySchedule(key + kDesBlockSize, c.k[1]);
    // A double-length key is K1 K2 K1.
    DesKeySchedule(keyLen > 2 * kDesBlockSize ? key + 2 * kDesBlockSize : key, c.k[2]);
}

void DesCipherEncrypt(const DesCipher &c, const unsigned char in[kDesBlockSize], unsigned char out[kDesBlockSize])
{
    if (c.triple)
        TdesEncrypt(c.k[0], c.k[1], c.k[2], in, out);
    else
        DesEncrypt(c.k[0], in, out);
}

void DesCipherDecrypt(const DesCipher &c, const unsigned char in[kDesBlockSize], unsigned char out[kDesBlockSize])
{
    if (c.triple)
        TdesDecrypt(c.k[0], c.k[1], c.k[2], in, out);
    else
        DesDecrypt(c.k[0], in, out);
}

}  // namespace tranpak
