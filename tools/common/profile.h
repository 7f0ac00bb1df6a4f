// Reading one value of a settings (.ini) file the way the library reads
// its settings, so that a tool knows which files the library uses:
//
//   ; a comment line
//   [Error Log File]
//   ERRFILE = ../run/errlog.txt     -> "../run/errlog.txt"
//   Other="quoted value"            -> "quoted value"
//
// Sections and keys match without regard to ASCII case; only the first
// section of a name is searched and its first matching key wins; blanks
// and tabs around keys and values are dropped; a value in a matching pair
// of ' or " loses the pair; a missing file, section or key gives the
// fallback. POSIX reads the file by these rules (profile_posix.cpp);
// Windows asks the system, whose reader they describe (profile_win32.cpp).
#ifndef TRANPAK_TOOLS_PROFILE_H
#define TRANPAK_TOOLS_PROFILE_H

#include <string>

namespace tranpak::tools {

// At most 299 characters of the value, as the library takes them.
std::string ReadProfileValue(const std::string &file, const char *section, const char *key, const char *fallback);

}  // namespace tranpak::tools

#endif
