// The [MAC] section of the settings file: field 64's algorithm.
//
//   [MAC]
//   ALGORITHM=ISO9797-1-ALG3   LEGACY (default), ISO9797-1-ALG1,
//                              ISO9797-1-ALG3, TDES-CMAC, AES-CMAC
//   PADDING=1                  ISO/IEC 9797-1 padding method 1 or 2 (default 1)
//   KEYLEN=16                  8, 16, 24 or 32, as the algorithm takes
//                              (default 8 for LEGACY, else 16)
//   COVERS=MESSAGE             MESSAGE: type, bitmap and the fields before
//                              field 64 (default, not for LEGACY); DATA:
//                              the fields before field 64 only (LEGACY's)
//
// Any other key in the section is refused, as a bad value is.
#ifndef TRANPAK_MESSAGE_MAC_SETTINGS_H
#define TRANPAK_MESSAGE_MAC_SETTINGS_H

#include "message/mesg_state.h"

namespace tranpak {

// Takes the section, as the settings file's record holds it, into the
// settings; false, with a line naming the key and its value logged, when a
// value is not one of the above (the settings then hold the defaults).
bool TakeMacSettings(MesgState &m, const MacFileSettings &mac);

// The name of an algorithm as the section writes it.
const char *MacAlgorithmName(int algorithm);

}  // namespace tranpak

#endif
