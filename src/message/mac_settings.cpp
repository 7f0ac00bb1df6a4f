#include "message/mac_settings.h"
#include "message/settings.h"
#include "kit/mac_names.h"

namespace tranpak {

const char *MacAlgorithmName(int algorithm)
{
    const MacName *n = MacNameOf(algorithm);
    return n == nullptr ? "?" : n->name;
}

bool TakeMacSettings(MesgState &m, const MacFileSettings &mac)
{
    LibSettings &s = m.settings;
    const bool taken = mac.fault == kMacSettingsTaken;
    s.macAlgorithm = taken ? mac.algorithm : TP_MAC_LEGACY;
    s.macPadding = taken ? mac.padding : TP_MAC_PAD1;
    s.macKeyLen = taken ? mac.keyLen : MacDefaultKeyLen(TP_MAC_LEGACY);
    s.macCovers = taken ? mac.covers : TP_MAC_COVERS_DATA;
    const MacName *algorithm = MacNameOf(mac.algorithm);
    switch (mac.fault) {
    case kMacSettingsTaken:
        return true;
    case kMacKeyUnknown:
        // A key misspelt would otherwise leave its setting at the default.
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [MAC] key %s is not ALGORITHM, PADDING, KEYLEN or COVERS",
                    mac.unknownKey);
        break;
    case kMacAlgorithmUnknown:
        WriteErrLog(m.Log(), kErrSettings,
                    "tranpak: [MAC] ALGORITHM=%s is not LEGACY, ISO9797-1-ALG1, ISO9797-1-ALG3, TDES-CMAC or AES-CMAC",
                    mac.algorithmText);
        break;
    case kMacPaddingUnknown:
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [MAC] PADDING=%s is not 1 or 2", mac.paddingText);
        break;
    case kMacKeyLenRefused:
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [MAC] KEYLEN=%s is not a key length of %s (%s)", mac.keyLenText,
                    algorithm->name, algorithm->keyBytes);
        break;
    case kMacCoversUnknown:
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [MAC] COVERS=%s is not MESSAGE or DATA", mac.coversText);
        break;
    case kMacCoversNotLegacy:
        WriteErrLog(m.Log(), kErrSettings,
                    "tranpak: [MAC] COVERS=%s is not taken by LEGACY, which covers the data area only (COVERS=DATA)",
                    mac.coversText);
        break;
    }
    return false;
}

}  // namespace tranpak
