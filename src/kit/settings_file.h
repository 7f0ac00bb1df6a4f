// The settings file, shared by the library's Init8583 and the tools that
// show which files the library uses: which file is read, and what it
// says of the trace, the three paths and the time limits.
//
//   [Com Trace Flag]      GCODEFLAG=1       trace on (the first character is '1')
//   [Error Log File]      ERRFILE=...       default ../run/errlog.txt
//   [Bitmap Define File]  BMPFILE=...       default ../etc/bitmap.txt
//   [Com Trace File]      CTRACEFILE=...    default ../run/ctrace.txt
//   [Com Timeout]         CONNECT, SEND, RECV, TRANSFER: whole seconds
//
// Values are read with the OS layer's profile reader (os.h).
#ifndef TRANPAK_KIT_SETTINGS_FILE_H
#define TRANPAK_KIT_SETTINGS_FILE_H

#include <cstdint>

namespace tranpak {

#ifndef TRANPAK_SETTINGS_FILE
#define TRANPAK_SETTINGS_FILE "c:/windows/system/8583.ini"
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

// What a settings file says, as Init8583 takes it: the trace flag, the
// three paths (their defaults where the file names none) and the limits
// in seconds (0: none).
struct FileSettings {
    int32_t traceflag;
    char errfile[kSettingPathSize];
    char bmpfile[kSettingPathSize];
    char ctracefile[kSettingPathSize];
    int32_t connectLimit;
    int32_t sendLimit;
    int32_t recvLimit;
    int32_t transferLimit;
    // The first limit of CONNECT, SEND, RECV and TRANSFER that is no whole
    // number of seconds, and its text; nullptr when there is none. That
    // limit and the ones after it are 0.
    const char *refusedKey;
    char refusedValue[kSettingValueSize];
};

// Reads the file's settings into *out. A file that is missing or cannot be
// read gives the defaults.
void ReadFileSettings(const char *file, FileSettings *out);

}  // namespace tranpak

#endif
