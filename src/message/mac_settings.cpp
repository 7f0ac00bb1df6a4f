#include "message/mac_settings.h"
#include "message/settings.h"
#include "message/text_check.h"
#include "kit/mac_names.h"
#include "os/os.h"

namespace tranpak {
namespace {

// A small whole number of digits only, else -1.
int SmallNumber(const char *value)
{
    int n = 0;
    for (const char *p = value; *p != '\0'; ++p) {
        if (!IsCDigit(*p) || n > 1000)
            return -1;
        n = n * 10 + (*p - '0');
    }
    return value[0] == '\0' ? -1 : n;
}

}  // namespace

const char *MacAlgorithmName(int algorithm)
{
    const MacName *n = MacNameOf(algorithm);
    return n == nullptr ? "?" : n->name;
}

bool ReadMacSettings(MesgState &m, const char *file)
{
    LibSettings &s = m.settings;
    s.macAlgorithm = TP_MAC_LEGACY;
    s.macPadding = TP_MAC_PAD1;
    s.macKeyLen = MacDefaultKeyLen(TP_MAC_LEGACY);
    s.macCovers = TP_MAC_COVERS_DATA;
    char value[kSettingValueSize];
    // A key misspelt would otherwise leave its setting at the default.
    if (os::FindProfileKeyOutside("MAC", kMacSettingKeys, kMacSettingKeyCount, value, sizeof value, file) != 0) {
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [MAC] key %s is not ALGORITHM, PADDING, KEYLEN or COVERS", value);
        return false;
    }
    os::ReadProfileString("MAC", "ALGORITHM", "", value, sizeof value, file);
    const MacName *algorithm = value[0] == '\0' ? MacNameOf(TP_MAC_LEGACY) : FindMacName(value);
    if (algorithm == nullptr) {
        WriteErrLog(m.Log(), kErrSettings,
                    "tranpak: [MAC] ALGORITHM=%s is not LEGACY, ISO9797-1-ALG1, ISO9797-1-ALG3, TDES-CMAC or AES-CMAC",
                    value);
        return false;
    }
    os::ReadProfileString("MAC", "PADDING", "", value, sizeof value, file);
    const int padding = value[0] == '\0' ? TP_MAC_PAD1 : SmallNumber(value);
    if (padding != TP_MAC_PAD1 && padding != TP_MAC_PAD2) {
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [MAC] PADDING=%s is not 1 or 2", value);
        return false;
    }
    os::ReadProfileString("MAC", "KEYLEN", "", value, sizeof value, file);
    const int keyLen = value[0] == '\0' ? MacDefaultKeyLen(algorithm->algorithm) : SmallNumber(value);
    if (!MacKeyLenFits(algorithm->algorithm, keyLen)) {
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [MAC] KEYLEN=%s is not a key length of %s (%s)", value,
                    algorithm->name, algorithm->keyBytes);
        return false;
    }
    os::ReadProfileString("MAC", "COVERS", "", value, sizeof value, file);
    const bool legacy = algorithm->algorithm == TP_MAC_LEGACY;
    const int covers = value[0] == '\0' ? (legacy ? TP_MAC_COVERS_DATA : TP_MAC_COVERS_MESSAGE) : FindMacCovers(value);
    if (covers == 0) {
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [MAC] COVERS=%s is not MESSAGE or DATA", value);
        return false;
    }
    if (legacy && covers == TP_MAC_COVERS_MESSAGE) {
        WriteErrLog(m.Log(), kErrSettings,
                    "tranpak: [MAC] COVERS=%s is not taken by LEGACY, which covers the data area only (COVERS=DATA)",
                    value);
        return false;
    }
    s.macAlgorithm = algorithm->algorithm;
    s.macPadding = padding;
    s.macKeyLen = keyLen;
    s.macCovers = covers;
    return true;
}

}  // namespace tranpak
