// The settings file, shared by the library's Init8583 and the tools that
// show which files the library uses: which file is read, and what it
// says of the trace, the three paths, the time limits and field 64's MAC,
// every section read in one pass into one record (FileSettings).
//
//   [Com Trace Flag]      GCODEFLAG=1       trace on (the first character is '1')
//   [Error Log File]      ERRFILE=...       default ../run/errlog.txt
//   [Bitmap Define File]  BMPFILE=...       the definition file, default ../etc/bitmap.txt
//   [Com Trace File]      CTRACEFILE=...    default ../run/ctrace.txt
//   [Com Timeout]         CONNECT, SEND, RECV, TRANSFER: whole seconds
//   [MAC]                 ALGORITHM, PADDING, KEYLEN, COVERS (no other key)
//   [Wire Format]         LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, BITMAP,
//                         CHARSET, NUMBERS, PREFIX, BINARY (kit/wire_format.h)
//
// Values are read with the OS layer's profile reader (os.h), each as
// GetPrivateProfileStringA reads it: the first key of the first section of
// its name, at most 299 characters.
#ifndef TRANPAK_KIT_SETTINGS_FILE_H
#define TRANPAK_KIT_SETTINGS_FILE_H

#include "wire_format.h"
#include "tranpak.h"

#include <cstdint>

namespace tranpak {

#ifndef TRANPAK_SETTINGS_FILE
#  define TRANPAK_SETTINGS_FILE "c:/windows/system/8583.ini"
#endif
// Where the settings are read from unless the environment names a file.
inline constexpr const char kSettingsFile[] = TRANPAK_SETTINGS_FILE;

// When set and not empty, this variable names the settings file instead
// of the built-in path.
inline constexpr const char kSettingsEnvVar[] = "TRANPAK_SETTINGS";
// Room for the path the variable names: at most 1023 characters.
inline constexpr int kSettingsPathSize = 1024;

// The profile reader hands back at most 299 characters of a value.
inline constexpr int kSettingValueSize = 300;
// A path setting is kept to 159 characters.
inline constexpr int kSettingPathSize = 160;

// Time limits of [Com Timeout] are whole seconds, at most one day.
inline constexpr int kMaxTimeLimitSeconds = 86400;

// Paths used when the settings name none.
inline constexpr const char kDefaultErrFile[] = "../run/errlog.txt";
inline constexpr const char kDefaultBmpFile[] = "../etc/bitmap.txt";
inline constexpr const char kDefaultTraceFile[] = "../run/ctrace.txt";

// The settings file in use: the one TRANPAK_SETTINGS names (copied into
// fromEnv), else the path built into the library; nullptr when the
// variable's value is too long to hold.
const char *SettingsFilePath(char fromEnv[kSettingsPathSize]);

// A [Com Timeout] value in seconds: digits only, taken as at most one day;
// empty and 0 are 0, no limit. Anything else (a sign, a unit, a word) is a
// mistake in the file, -1.
int ParseTimeLimit(const char *value);

// The [Com Timeout] limits in seconds, 0: none. The one record of them in
// the library's settings (LibSettings), the settings file's record and the
// tools'; TpSettings carries the same four, by the same names, to and from
// callers.
struct ComLimits {
    int32_t connectLimit;
    int32_t sendLimit;
    int32_t recvLimit;
    int32_t transferLimit;  // a whole file transfer, connection included
};

// The limits of TpSettings, as given (unchecked), and back.
ComLimits LimitsOf(const TpSettings &settings);
void PutLimits(const ComLimits &limits, TpSettings *settings);

// Which value of [MAC] the library refuses, the first in this order.
enum MacSettingFault {
    kMacSettingsTaken,     // none: the section's choice (or the defaults) taken
    kMacKeyUnknown,        // a key that is not ALGORITHM, PADDING, KEYLEN or COVERS
    kMacAlgorithmUnknown,  // ALGORITHM names no MAC
    kMacPaddingUnknown,    // PADDING is not 1 or 2
    kMacKeyLenRefused,     // KEYLEN is no key length of the algorithm
    kMacCoversUnknown,     // COVERS is not MESSAGE or DATA
    kMacCoversNotLegacy,   // COVERS=MESSAGE with LEGACY
};

// The [MAC] section: its texts as the file gives them ("" where a key is
// missing) and what the library takes from them.
struct MacFileSettings {
    char unknownKey[kSettingValueSize];  // the first key none of the four, "" when none
    char algorithmText[kSettingValueSize];
    char paddingText[kSettingValueSize];
    char keyLenText[kSettingValueSize];
    char coversText[kSettingValueSize];
    // Taken up to the fault: TpMacAlgorithm, TP_MAC_PAD1 or 2, bytes of
    // key, TP_MAC_COVERS_*; the defaults (LEGACY, PAD1, 8, DATA) from the
    // value at fault on.
    int32_t algorithm;
    int32_t padding;
    int32_t keyLen;
    int32_t covers;
    MacSettingFault fault;
};

// What a settings file says, every section, as Init8583 takes it: the
// trace flag, the three paths (their defaults where the file names none),
// the limits in seconds (0: none) and the MAC.
struct FileSettings {
    int32_t traceflag;
    char errfile[kSettingPathSize];
    char bmpfile[kSettingPathSize];  // the definition file
    char ctracefile[kSettingPathSize];
    ComLimits limits;
    // The first limit of CONNECT, SEND, RECV and TRANSFER that is no whole
    // number of seconds, and its text; nullptr when there is none. That
    // limit and the ones after it are 0.
    const char *refusedKey;
    char refusedValue[kSettingValueSize];
    MacFileSettings mac;
    // [Wire Format]: its texts, the dialect taken from them, and the index
    // of the first key whose value is none the section knows (-1: none).
    wire::WireFormatTexts wireTexts;
    wire::WireFormat wire;
    int32_t wireFault;
    char wireUnknownKey[kSettingValueSize];  // the first key none of the section's, "" when none
};

// Reads the file's settings into *out, the file read once. A file that is
// missing or cannot be read gives the defaults.
void ReadFileSettings(const char *file, FileSettings *out);

}  // namespace tranpak

#endif
