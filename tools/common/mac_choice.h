// The MAC a tool uses: --mac, --mac-padding, --mac-covers and a --key of 8
// to 32 bytes,
// or what a settings file's [MAC] section names.
#ifndef TRANPAK_TOOLS_MAC_CHOICE_H
#define TRANPAK_TOOLS_MAC_CHOICE_H

#include "tranpak.h"

#include <string>

namespace tranpak::tools {

struct MacChoice {
    int algorithm = TP_MAC_LEGACY;
    int padding = TP_MAC_PAD1;
    int keyLen = 0;  // bytes of key; 0 until a key is given
    unsigned char key[32] = {};
    int covers = 0;          // TP_MAC_COVERS_*; 0: the algorithm's default
    int settingsKeyLen = 0;  // the settings file's KEYLEN; 0: none named
};

// The help lines of --key, --mac, --mac-padding and --mac-covers, for a
// tool's usage text.
extern const char kMacOptionsHelp[];
// The line a tool that reads a settings file adds below them.
extern const char kMacFromSettingsHelp[];

// --mac: LEGACY, ISO9797-1-ALG1, ISO9797-1-ALG3, TDES-CMAC or AES-CMAC (any
// case); --mac-padding: 1 or 2. False with *error for anything else.
bool ParseMacAlgorithm(const std::string &name, MacChoice *c, std::string *error);
bool ParseMacPadding(const std::string &value, MacChoice *c, std::string *error);
// --mac-covers: message or data (any case).
bool ParseMacCovers(const std::string &value, MacChoice *c, std::string *error);
// --key: 16, 32, 48 or 64 hex digits.
bool ParseMacKey(const std::string &hex, MacChoice *c, std::string *error);
// The algorithm, padding, key length and coverage of a settings file's
// [MAC] section, as the library reads them; false with *error when the
// library would refuse them. A --mac that replaces the algorithm replaces
// the key length and coverage that went with it (the caller clears them).
bool MacFromSettings(const std::string &file, MacChoice *c, std::string *error);
// "" when the key's length suits the algorithm (and the settings file's
// KEYLEN, where it names one) and the algorithm takes the coverage, else
// why not.
std::string MacKeyFault(const MacChoice &c);
// What the choice's MAC covers: its coverage, else its algorithm's default
// (TP_MAC_COVERS_DATA for LEGACY, TP_MAC_COVERS_MESSAGE for the others).
int MacCovers(const MacChoice &c);
// The name --mac and [MAC] use for the algorithm.
const char *MacName(int algorithm);

// Sets the session's field 64 to the choice (TpSetMacAlgorithm, then
// TpSetMacCovers where a coverage was chosen).
bool UseMac(TpSession *s, const MacChoice &c);

}  // namespace tranpak::tools

#endif
