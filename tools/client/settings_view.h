// Which settings file the library reads at start-up and the files it
// names, found the way the library finds them: TRANPAK_SETTINGS when it is
// set and not empty (at most 1023 characters), else the built-in path;
// then [Error Log File] ERRFILE and [Bitmap Define File] BMPFILE, each cut
// to 159 characters, with the library's defaults.
#ifndef TRANPAK_TOOLS_SETTINGS_VIEW_H
#define TRANPAK_TOOLS_SETTINGS_VIEW_H

#include <string>

namespace tranpak::tools {

struct SettingsView {
    bool pathFits = false;  // false: TRANPAK_SETTINGS is too long to use
    std::string path;       // the settings file
    bool read = false;      // false: no settings were read (no path, or not a file)
    std::string errfile;    // empty unless read
    std::string bmpfile;
};

SettingsView ViewSettings();

}  // namespace tranpak::tools

#endif
