#include "kit/mac_names.h"

#include "tranpak.h"

namespace tranpak {
namespace {

constexpr MacName kMacNames[] = {
    {"LEGACY", TP_MAC_LEGACY, "8", "16"},
    {"ISO9797-1-ALG1", TP_MAC_ISO9797_1_ALG1, "8, 16 or 24", "16, 32 or 48"},
    {"ISO9797-1-ALG3", TP_MAC_ISO9797_1_ALG3, "16 or 24", "32 or 48"},
    {"TDES-CMAC", TP_MAC_TDES_CMAC, "16 or 24", "32 or 48"},
    {"AES-CMAC", TP_MAC_AES_CMAC, "16, 24 or 32", "32, 48 or 64"},
};

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const char *text, const char *name)
{
    for (; *text != '\0' && *name != '\0'; ++text, ++name)
        if (FoldCase(*text) != *name)
            return false;
    return *text == *name;
}

}  // namespace

const MacName *FindMacName(const char *text)
{
    for (const MacName &n : kMacNames)
        if (SameName(text, n.name))
            return &n;
    return nullptr;
}

const MacName *MacNameOf(int algorithm)
{
    for (const MacName &n : kMacNames)
        if (n.algorithm == algorithm)
            return &n;
    return nullptr;
}

int FindMacCovers(const char *text)
{
    if (SameName(text, "MESSAGE"))
        return TP_MAC_COVERS_MESSAGE;
    return SameName(text, "DATA") ? TP_MAC_COVERS_DATA : 0;
}

const char *MacCoversName(int covers)
{
    switch (covers) {
    case TP_MAC_COVERS_MESSAGE:
        return "MESSAGE";
    case TP_MAC_COVERS_DATA:
        return "DATA";
    default:
        return "?";
    }
}

bool MacAlgorithmKnown(int algorithm)
{
    switch (algorithm) {
    case TP_MAC_LEGACY:
    case TP_MAC_ISO9797_1_ALG1:
    case TP_MAC_ISO9797_1_ALG3:
    case TP_MAC_TDES_CMAC:
    case TP_MAC_AES_CMAC:
        return true;
    default:
        return false;
    }
}

bool MacKeyLenFits(int algorithm, int keyLen)
{
    switch (algorithm) {
    case TP_MAC_LEGACY:
        return keyLen == 8;
    case TP_MAC_ISO9797_1_ALG1:
        return keyLen == 8 || keyLen == 16 || keyLen == 24;
    case TP_MAC_ISO9797_1_ALG3:
    case TP_MAC_TDES_CMAC:
        return keyLen == 16 || keyLen == 24;
    case TP_MAC_AES_CMAC:
        return keyLen == 16 || keyLen == 24 || keyLen == 32;
    default:
        return false;
    }
}

bool MacPaddingFits(int algorithm, int padding)
{
    if (algorithm != TP_MAC_ISO9797_1_ALG1 && algorithm != TP_MAC_ISO9797_1_ALG3)
        return MacAlgorithmKnown(algorithm);
    return padding == TP_MAC_PAD1 || padding == TP_MAC_PAD2;
}

int MacDefaultKeyLen(int algorithm) { return algorithm == TP_MAC_LEGACY ? 8 : 16; }

}  // namespace tranpak
