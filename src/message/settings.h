// Settings file and start-up of the message state.
#ifndef TRANPAK_MESSAGE_SETTINGS_H
#define TRANPAK_MESSAGE_SETTINGS_H

#include "message/mesg_state.h"
#include "kit/settings_file.h"
#include "tranpak.h"

namespace tranpak {

// The settings file itself, where it is and what it holds:
// kit/settings_file.h.
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
