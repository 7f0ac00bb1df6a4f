// Field 64, the message authentication code: written when a message is
// packed, checked when one has been received. The library's own MAC is
// the data area before field 64 folded (crypto/fold.h), then encrypted
// once with single DES under the caller's 8-byte key:
//
//   data "0812345678000123000000001000" (28 bytes)
//   fold 36 30 31 32 03 05 07 05 -> DES under the key -> MAC in field 64
//
// The MAC algorithms' numbers are the crypto's own; they are the public
// header's, as checked here.
#ifndef TRANPAK_CODEC_MAC_H
#define TRANPAK_CODEC_MAC_H

#include "crypto/des.h"
#include "message/mesg_state.h"

#include "crypto/mac_algorithms.h"
#include "tranpak.h"

namespace tranpak {

static_assert(kMacLegacy == TP_MAC_LEGACY && kMacIso9797Alg1 == TP_MAC_ISO9797_1_ALG1 &&
              kMacIso9797Alg3 == TP_MAC_ISO9797_1_ALG3 && kMacTdesCmac == TP_MAC_TDES_CMAC &&
              kMacAesCmac == TP_MAC_AES_CMAC);
static_assert(kMacPad1 == TP_MAC_PAD1 && kMacPad2 == TP_MAC_PAD2);
static_assert(kKcvEncryptZeros == TP_KCV_ENCRYPT_ZEROS && kKcvCmac == TP_KCV_CMAC);
static_assert(kMacSize == kDesBlockSize);

// The MAC of the first n bytes of the data area, stored in the first 8
// bytes of field 64's buf. n is kept within the data area. Under a [MAC]
// section (LibSettings.macAlgorithm) the key is macKeyLen bytes and the
// MAC that algorithm's, cut to 8 bytes, over the type, the bitmap as it
// stands and the n bytes when macCovers is TP_MAC_COVERS_MESSAGE. Returns 0.
int CalcMac(MesgState &m, DesContext &des, const unsigned char key[kMacSize], int n);
// The same for a frame of the dialect codec: the MAC of head (type and
// bitmaps as they travel, headLen bytes) and the first n bytes of the data
// area, into record macCell (63, or 127 under a secondary bitmap).
void CalcMacOver(MesgState &m, DesContext &des, const unsigned char *key, const unsigned char *head, int headLen, int n,
                 int macCell);

// CheckMesgMac: verifies the MAC of the message last received. The MAC is
// computed aside and compared without an early exit; field 64 keeps the
// received one whatever the outcome.
int CheckMesgMac(MesgState &m, DesContext &des, const void *key);

}  // namespace tranpak

#endif
