// Settings file and start-up of the message state.
#ifndef TRANPAK_CORE_SETTINGS_H
#define TRANPAK_CORE_SETTINGS_H

#include "core/mesg_state.h"
#include "tranpak.h"

namespace tranpak {

#ifndef TRANPAK_SETTINGS_FILE
#define TRANPAK_SETTINGS_FILE "c:/windows/system/8583.ini"
#endif
// Where the settings are read from unless the environment names a file.
inline constexpr const char kSettingsFile[] = TRANPAK_SETTINGS_FILE;
// When set and not empty, this variable names the settings file instead.
inline constexpr const char kSettingsEnvVar[] = "TRANPAK_SETTINGS";
// Room for the path the variable names: at most 1023 characters.
inline constexpr int kSettingsPathSize = 1024;

// The profile reader hands back at most 299 characters of a value.
inline constexpr int kSettingValueSize = 300;

// Time limits of [Com Timeout] are whole seconds, at most one day.
inline constexpr int kMaxTimeLimitSeconds = 86400;

// Paths used when the settings name none.
inline constexpr const char kDefaultErrFile[] = "../run/errlog.txt";
inline constexpr const char kDefaultBmpFile[] = "../etc/bitmap.txt";
inline constexpr const char kDefaultTraceFile[] = "../run/ctrace.txt";

// The settings file in use: the one TRANPAK_SETTINGS names (copied into
// fromEnv), else the built-in path; nullptr when the variable's value is
// too long to hold.
const char *SettingsFilePath(char fromEnv[kSettingsPathSize]);

// A [Com Timeout] value in seconds: digits only, taken as at most one day;
// empty and 0 are 0, no limit. Anything else (a sign, a unit, a word) is a
// mistake in the file, -1.
int ParseTimeLimit(const char *value);

// Sets every field record to zero: no value, no definition.
void ClearCellTable(MesgState &m);

// Init8583 on one message state, reading settingsFile (nullptr: the file
// SettingsFilePath names).
int Init8583(MesgState &m, const char *settingsFile);
// The same with the settings given instead of a file (nullptr is refused).
// A refusal of the settings changes nothing in m.
int Init8583With(MesgState &m, const TpSettings *settings);
// Checks settings as Init8583With does, logging a refusal; changes nothing.
int CheckSettingsWith(MesgState &m, const TpSettings *settings);

}  // namespace tranpak

#endif
