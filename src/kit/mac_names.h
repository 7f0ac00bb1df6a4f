// The names of the MACs of field 64, shared by the library (the settings
// file's [MAC] ALGORITHM) and its tools (--mac): one table, so that a name
// the library takes is a name the tools take, and the key lengths their
// messages give agree.
#ifndef TRANPAK_KIT_MAC_NAMES_H
#define TRANPAK_KIT_MAC_NAMES_H

namespace tranpak {

struct MacName {
    const char *name;       // "LEGACY", "ISO9797-1-ALG1", ...
    int algorithm;          // TP_MAC_*
    const char *keyBytes;   // the key lengths it takes in bytes, "8, 16 or 24"
    const char *keyDigits;  // the same in hex digits, "16, 32 or 48"
};

// The entry whose name is text, matched without regard to case; nullptr
// when there is none.
const MacName *FindMacName(const char *text);
// The entry of a TP_MAC_* code; nullptr when there is none.
const MacName *MacNameOf(int algorithm);

// Which keys and paddings each algorithm takes (TpMac's table in the
// public header): true when the algorithm is one of TpMac's, takes keys of
// keyLen bytes, and padding is 1 or 2 where the algorithm pads by
// ISO/IEC 9797-1.
bool MacAlgorithmKnown(int algorithm);
bool MacKeyLenFits(int algorithm, int keyLen);
bool MacPaddingFits(int algorithm, int padding);
// The key length a [MAC] section means when it names none.
int MacDefaultKeyLen(int algorithm);

// What a MAC covers, as the settings file's [MAC] COVERS and the tools'
// --mac-covers name it: MESSAGE or DATA, in any case. The TP_MAC_COVERS_*
// code of a name, 0 for any other text; and the name of a code ("?" for
// no code).
int FindMacCovers(const char *text);
const char *MacCoversName(int covers);

// The keys of the settings file's [MAC] section.
inline constexpr const char *kMacSettingKeys[] = {"ALGORITHM", "PADDING", "KEYLEN", "COVERS"};
inline constexpr int kMacSettingKeyCount = sizeof kMacSettingKeys / sizeof kMacSettingKeys[0];

}  // namespace tranpak

#endif
