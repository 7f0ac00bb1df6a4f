// Where the tools find the files they read when the command line names
// none: the field definitions installed with them, wherever the program
// runs from.
#ifndef TRANPAK_TOOLS_INSTALLED_FILES_H
#define TRANPAK_TOOLS_INSTALLED_FILES_H

#include <string>

namespace tranpak::tools {

// The definition file the library takes when nothing names one, relative
// to the current folder.
inline constexpr char kLibraryDefinitions[] = "../etc/bitmap.txt";

// Where the example definitions lie relative to the program's own folder:
// an installation (cmake --install, the .deb, the .tar.gz), the Python
// wheel, the demo's tree.
inline constexpr const char *kBesideProgram[] = {"../share/tranpak/examples/bitmap.txt", "../examples/bitmap.txt",
                                                 "../etc/bitmap.txt"};

// The definitions used when none is named: kLibraryDefinitions when it is
// there from the current folder, else the first of kBesideProgram that is
// there from the program's folder, else kLibraryDefinitions (whose
// failure then names it).
std::string DefaultDefinitions();

// A relative path read from the settings file `settings`: as it is when it
// is there from the current folder (as the library reads it), else
// relative to the settings file's folder when it is there. Absolute paths
// and paths found nowhere come back as they are.
std::string BesideSettings(const std::string &path, const std::string &settings);

}  // namespace tranpak::tools

#endif
