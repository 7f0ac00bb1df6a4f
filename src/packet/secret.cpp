#include "packet/secret.h"

namespace tranpak {

bool SameBytes(const unsigned char *a, const unsigned char *b, int n)
{
    // Read through volatile, so the loop is neither cut short nor turned
    // into a library compare that stops at the first difference.
    const volatile unsigned char *x = a;
    const volatile unsigned char *y = b;
    unsigned diff = 0;
    for (int i = 0; i < n; ++i)
        diff |= static_cast<unsigned>(x[i] ^ y[i]);
    return diff == 0;
}

void WipeSecret(void *p, size_t n)
{
    volatile unsigned char *bytes = static_cast<unsigned char *>(p);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = 0;
}

}  // namespace tranpak
