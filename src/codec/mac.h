// The message authentication code: the data area before field 64 folded by
// XOR into one 8-byte block, starting from eight '0' characters, then
// encrypted once with single DES under the caller's 8-byte key.
//
//   data "0812345678000123000000001000" (28 bytes)
//   30 30 30 30 30 30 30 30      accumulator
//   ^ "08123456" ^ "78000123" ^ "00000000" ^ "1000" 00 00 00 00
//   = 36 30 31 32 03 05 07 05 -> DES under the key -> MAC in field 64
#ifndef TRANPAK_PACKET_MAC_H
#define TRANPAK_PACKET_MAC_H

#include "message/mesg_state.h"
#include "session/session.h"

namespace tranpak {

// Folds block into acc byte by byte. Returns 0.
int XorBlock(unsigned char acc[kMacSize], const unsigned char block[kMacSize]);

// The accumulator of the first n bytes of data.
void FoldMac(const unsigned char *data, int n, unsigned char acc[kMacSize]);

// The MAC of the first n bytes of the data area, stored in the first 8
// bytes of field 64's buf. n is kept within the data area. Under a [MAC]
// section (LibSettings.macAlgorithm) the key is macKeyLen bytes and the
// MAC that algorithm's, cut to 8 bytes, over the type, the bitmap as it
// stands and the n bytes when macCovers is TP_MAC_COVERS_MESSAGE. Returns 0.
int CalcMac(Session &s, const unsigned char key[kMacSize], int n);

// CheckMesgMac: verifies the MAC of the message last received. The MAC is
// computed aside and compared without an early exit; field 64 keeps the
// received one whatever the outcome.
int CheckMesgMac(Session &s, const void *key);

}  // namespace tranpak

#endif
