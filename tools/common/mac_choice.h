// The MAC a tool uses: --mac, --mac-padding and a --key of 8 to 32 bytes,
// or what a settings file's [MAC] section names.
#ifndef TRANPAK_TOOLS_MAC_CHOICE_H
#define TRANPAK_TOOLS_MAC_CHOICE_H

#include "tranpak.h"

#include <string>

namespace tranpak::tools {

struct MacChoice {
    int algorithm = TP_MAC_LEGACY;
    int padding = TP_MAC_PAD1;
    int keyLen = 0;               // bytes of key; 0 until a key is given
    unsigned char key[32] = {};
};

// The help lines of --key, --mac and --mac-padding, for a tool's usage text.
extern const char kMacOptionsHelp[];
// The line a tool that reads a settings file adds below them.
extern const char kMacFromSettingsHelp[];

// --mac: LEGACY, ISO9797-1-ALG1, ISO9797-1-ALG3, TDES-CMAC or AES-CMAC (any
// case); --mac-padding: 1 or 2. False with *error for anything else.
bool ParseMacAlgorithm(const std::string &name, MacChoice *c, std::string *error);
bool ParseMacPadding(const std::string &value, MacChoice *c, std::string *error);
// --key: 16, 32, 48 or 64 hex digits.
bool ParseMacKey(const std::string &hex, MacChoice *c, std::string *error);
// The algorithm and padding of a settings file's [MAC] section, as the
// library reads them; false with *error when the library would refuse them.
bool MacFromSettings(const std::string &file, MacChoice *c, std::string *error);
// "" when the key's length suits the algorithm, else why not.
std::string MacKeyFault(const MacChoice &c);
// The name --mac and [MAC] use for the algorithm.
const char *MacName(int algorithm);

// Sets the session's field 64 to the choice (TpSetMacAlgorithm).
bool UseMac(TpSession *s, const MacChoice &c);

}  // namespace tranpak::tools

#endif
