// Handling of keys and MACs: a comparison whose time does not depend on
// where two MACs differ, and a wipe that the compiler cannot leave out.
#ifndef TRANPAK_CRYPTO_SECRET_H
#define TRANPAK_CRYPTO_SECRET_H

#include <cstddef>

namespace tranpak {

// True when the n bytes at a and b are equal. Every byte is read and the
// differences are gathered without a branch, so a MAC wrong in its first
// byte costs what one wrong in its last byte costs.
bool SameBytes(const unsigned char *a, const unsigned char *b, int n);

// Overwrites n bytes with zeros through volatile stores: round keys and
// intermediate blocks on the stack are cleared after use.
void WipeSecret(void *p, size_t n);

}  // namespace tranpak

#endif
