#include "crypto/secret.h"

#include <cstdint>
#include <cstring>

namespace tranpak {

bool SameBytes(const unsigned char *a, const unsigned char *b, int n)
{
    // Eight bytes a turn, every difference ORed in: no compare until all
    // bytes are read. The sum passes through a volatile, so the compiler
    // cannot stop the loop once it knows the answer.
    volatile uint64_t diff = 0;
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        diff = diff | (x ^ y);
    }
    for (; i < n; ++i)
        diff = diff | static_cast<uint64_t>(a[i] ^ b[i]);
    return diff == 0;
}

void WipeSecret(void *p, size_t n)
{
    volatile unsigned char *bytes = static_cast<unsigned char *>(p);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = 0;
}

}  // namespace tranpak
