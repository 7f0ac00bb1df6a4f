// Settings file and start-up of the message state.
#ifndef TRANPAK_CORE_SETTINGS_H
#define TRANPAK_CORE_SETTINGS_H

#include "message/mesg_state.h"
#include "kit/settings_file.h"
#include "tranpak.h"

namespace tranpak {

#ifndef TRANPAK_SETTINGS_FILE
#define TRANPAK_SETTINGS_FILE "c:/windows/system/8583.ini"
#endif
// Where the settings are read from unless the environment names a file
// (the rest of what concerns the file is in kit/settings_file.h).
inline constexpr const char kSettingsFile[] = TRANPAK_SETTINGS_FILE;
static_assert(kSettingPathSize == kPathSize, "a path setting fills a path of LibSettings");

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
