#include "mac_choice.h"

#include "mac_names.h"
#include "settings_file.h"
#include "tool_support.h"

#include <cstring>

namespace tranpak::tools {
const char kMacOptionsHelp[] =
    "  --key HEX         MAC key: 16 hex digits, or 32, 48 or 64 as --mac takes\n"
    "  --mac NAME        MAC of field 64: LEGACY (the library's own, default),\n"
    "                    ISO9797-1-ALG1 (key of 16, 32 or 48 digits), ISO9797-1-ALG3\n"
    "                    (retail MAC, 32 or 48), TDES-CMAC (32 or 48), AES-CMAC\n"
    "                    (32, 48 or 64)\n"
    "  --mac-padding N   ISO/IEC 9797-1 padding method 1 or 2 (default 1)\n"
    "  --mac-covers W    what the MAC covers: message (type, bitmap and the fields\n"
    "                    before field 64; the default of all but LEGACY) or data\n"
    "                    (the fields before field 64 only; LEGACY's)\n";

const char kMacFromSettingsHelp[] = "                    Without --mac, the settings file's [MAC] section decides.\n";

bool ParseMacAlgorithm(const std::string &name, MacChoice *c, std::string *error)
{
    if (const tranpak::MacName *n = FindMacName(name.c_str())) {
        c->algorithm = n->algorithm;
        return true;
    }
    *error = "--mac takes LEGACY, ISO9797-1-ALG1, ISO9797-1-ALG3, TDES-CMAC or AES-CMAC, not " + name;
    return false;
}

bool ParseMacPadding(const std::string &value, MacChoice *c, std::string *error)
{
    if (value != "1" && value != "2") {
        *error = "--mac-padding takes 1 or 2, not " + value;
        return false;
    }
    c->padding = value == "1" ? TP_MAC_PAD1 : TP_MAC_PAD2;
    return true;
}

bool ParseMacCovers(const std::string &value, MacChoice *c, std::string *error)
{
    const int covers = FindMacCovers(value.c_str());
    if (covers == 0) {
        *error = "--mac-covers takes message or data, not " + value;
        return false;
    }
    c->covers = covers;
    return true;
}

bool ParseMacKey(const std::string &hex, MacChoice *c, std::string *error)
{
    std::string bytes;
    if (!ParseHex(hex, &bytes) ||
        (bytes.size() != 8 && bytes.size() != 16 && bytes.size() != 24 && bytes.size() != 32)) {
        *error = "--key takes 16, 32, 48 or 64 hex digits, not " + hex;
        return false;
    }
    std::memcpy(c->key, bytes.data(), bytes.size());
    c->keyLen = static_cast<int>(bytes.size());
    return true;
}

namespace {

// A number's text without the zeros ahead of its first other digit ("024"
// is "24", "0" stays "0").
std::string WithoutLeadingZeros(std::string text)
{
    const size_t first = text.find_first_not_of('0');
    text.erase(0, first == std::string::npos ? (text.empty() ? 0 : text.size() - 1) : first);
    return text;
}

}  // namespace

bool MacFromSettings(const std::string &file, MacChoice *c, std::string *error)
{
    // The section as the library reads it, with the rest of the file.
    FileSettings read;
    ReadFileSettings(file.c_str(), &read);
    const std::string name = read.mac.algorithmText;
    if (!name.empty() && !ParseMacAlgorithm(name, c, error))
        return false;
    // The library reads the numbers with any leading zeros (PADDING=02).
    const std::string padding = WithoutLeadingZeros(read.mac.paddingText);
    if (!padding.empty() && !ParseMacPadding(padding, c, error))
        return false;
    const std::string keyLen = WithoutLeadingZeros(read.mac.keyLenText);
    if (!keyLen.empty()) {
        if (keyLen.size() > 2 || keyLen.find_first_not_of("0123456789") != std::string::npos) {
            *error = "[MAC] KEYLEN=" + keyLen + " of " + file + " is no key length";
            return false;
        }
        c->settingsKeyLen = std::stoi(keyLen);
    }
    const std::string covers = read.mac.coversText;
    if (!covers.empty() && (c->covers = FindMacCovers(covers.c_str())) == 0) {
        *error = "[MAC] COVERS=" + covers + " of " + file + " is not MESSAGE or DATA";
        return false;
    }
    return true;
}

std::string MacKeyFault(const MacChoice &c)
{
    if (c.algorithm == TP_MAC_LEGACY && c.covers == TP_MAC_COVERS_MESSAGE)
        return "LEGACY covers the data area only, not the message (--mac-covers data)";
    if (c.settingsKeyLen != 0 && c.keyLen != c.settingsKeyLen)
        return "--key has " + std::to_string(c.keyLen) + " bytes (" + std::to_string(2 * c.keyLen) +
               " hex digits), the settings file's [MAC] KEYLEN is " + std::to_string(c.settingsKeyLen);
    unsigned char mac[1];
    if (TpMac(c.algorithm, c.padding, c.key, c.keyLen, nullptr, 0, mac, 1) == 0)
        return "";
    const tranpak::MacName *n = MacNameOf(c.algorithm);
    return n == nullptr ? "no such MAC"
                        : std::string("--key for ") + n->name + " takes " + n->keyDigits + " hex digits, not " +
                              std::to_string(2 * c.keyLen);
}

int MacCovers(const MacChoice &c)
{
    if (c.covers != 0)
        return c.covers;
    return c.algorithm == TP_MAC_LEGACY ? TP_MAC_COVERS_DATA : TP_MAC_COVERS_MESSAGE;
}

const char *MacName(int algorithm)
{
    const tranpak::MacName *n = MacNameOf(algorithm);
    return n == nullptr ? "?" : n->name;
}

bool UseMac(TpSession *s, const MacChoice &c)
{
    return TpSetMacAlgorithm(s, c.algorithm, c.padding, c.keyLen) == 0 &&
           (c.covers == 0 || TpSetMacCovers(s, c.covers) == 0);
}

}  // namespace tranpak::tools
