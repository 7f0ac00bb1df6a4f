// Settings file and start-up of the message state.
#ifndef TRANPAK_CORE_SETTINGS_H
#define TRANPAK_CORE_SETTINGS_H

namespace tranpak {

#ifndef TRANPAK_SETTINGS_FILE
#define TRANPAK_SETTINGS_FILE "c:/windows/system/8583.ini"
#endif
// Where the settings are read from; fixed when the library is built.
inline constexpr const char kSettingsFile[] = TRANPAK_SETTINGS_FILE;

// The profile reader hands back at most 299 characters of a value.
inline constexpr int kSettingValueSize = 300;

// Sets every field record to zero: no value, no definition.
void ClearCellTable();

}  // namespace tranpak

#endif
