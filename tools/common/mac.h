// The MAC a frame carries in field 64, computed by the tools themselves so
// that a frame that does not unpack can still be checked: the data area
// before field 64 folded by XOR into one 8-byte block, starting from eight
// '0' characters (a last partial block filled with zero bytes), then
// encrypted once with single DES under the 8-byte key.
#ifndef TRANPAK_TOOLS_MAC_H
#define TRANPAK_TOOLS_MAC_H

namespace tranpak::tools {

// The MAC of the first n bytes of data.
void ComputeMac(const unsigned char *data, int n, const unsigned char key[8], unsigned char mac[8]);

// One block of single DES encryption (FIPS 46-3); the key's parity bits
// do not matter.
void DesEncrypt(const unsigned char in[8], const unsigned char key[8], unsigned char out[8]);

}  // namespace tranpak::tools

#endif
