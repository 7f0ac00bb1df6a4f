#include "core/mac_settings.h"
#include "core/settings.h"
#include "core/text_check.h"
#include "packet/mac_algorithms.h"
#include "os/os.h"

namespace tranpak {
namespace {

struct MacName {
    const char *name;
    int algorithm;
    const char *keyLens;  // for the message about a KEYLEN it does not take
};

constexpr MacName kMacNames[] = {
    {"LEGACY", TP_MAC_LEGACY, "8"},
    {"ISO9797-1-ALG1", TP_MAC_ISO9797_1_ALG1, "8, 16 or 24"},
    {"ISO9797-1-ALG3", TP_MAC_ISO9797_1_ALG3, "16 or 24"},
    {"TDES-CMAC", TP_MAC_TDES_CMAC, "16 or 24"},
    {"AES-CMAC", TP_MAC_AES_CMAC, "16, 24 or 32"},
};

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const char *value, const char *name)
{
    for (; *value != '\0' && *name != '\0'; ++value, ++name)
        if (FoldCase(*value) != *name)
            return false;
    return *value == *name;
}

const MacName *FindAlgorithm(const char *value)
{
    for (const MacName &n : kMacNames)
        if (SameName(value, n.name))
            return &n;
    return nullptr;
}

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
    for (const MacName &n : kMacNames)
        if (n.algorithm == algorithm)
            return n.name;
    return "?";
}

bool ReadMacSettings(MesgState &m, const char *file)
{
    LibSettings &s = m.settings;
    s.macAlgorithm = TP_MAC_LEGACY;
    s.macPadding = TP_MAC_PAD1;
    s.macKeyLen = MacDefaultKeyLen(TP_MAC_LEGACY);
    char value[kSettingValueSize];
    os::ReadProfileString("MAC", "ALGORITHM", "", value, sizeof value, file);
    const MacName *algorithm = value[0] == '\0' ? &kMacNames[0] : FindAlgorithm(value);
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
                    algorithm->name, algorithm->keyLens);
        return false;
    }
    s.macAlgorithm = algorithm->algorithm;
    s.macPadding = padding;
    s.macKeyLen = keyLen;
    return true;
}

}  // namespace tranpak
