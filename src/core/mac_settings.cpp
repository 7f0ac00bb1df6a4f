#include "core/mac_settings.h"
#include "core/settings.h"
#include "core/text_check.h"
#include "kit/mac_names.h"
#include "packet/mac_algorithms.h"
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
    char value[kSettingValueSize];
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
    s.macAlgorithm = algorithm->algorithm;
    s.macPadding = padding;
    s.macKeyLen = keyLen;
    return true;
}

}  // namespace tranpak
