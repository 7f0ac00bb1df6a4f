// Which file a transfer request names inside the served directory. A
// request is refused unless the file's real path, with every link on the
// way resolved, lies inside the served directory's real path, and the
// file is a regular file (or, for a store, not there yet).
#ifndef TRANPAK_TOOLS_CONFINE_H
#define TRANPAK_TOOLS_CONFINE_H

#include <string>

namespace tranpak::tools {

// The file a request text names inside dir, or false when the text could
// reach outside it (absolute paths, drive letters, backslashes, empty, "."
// or ".." components, control bytes) or names a Windows device.
bool ConfinedPath(const std::string &dir, const std::string &request, std::string *path);

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case, alone or with an
// extension ("nul.txt"), and with trailing dots or blanks: names that
// Windows opens as devices in every directory. Refused on every platform,
// so a served directory means the same everywhere.
bool IsReservedDeviceName(const std::string &component);

// The served directory's real path, or false when it is not a directory.
bool ServedRoot(const std::string &dir, std::string *root);

// The real path of the existing regular file to send, or false with *why.
bool ResolveFetch(const std::string &root, const std::string &request, std::string *real, std::string *why);

// The real path to store to: an existing regular file's, or a new name in
// an existing directory inside root. False with *why otherwise.
bool ResolveStore(const std::string &root, const std::string &request, std::string *real, std::string *why);

// True when path is root itself or lies below it.
bool IsInside(const std::string &root, const std::string &path);

}  // namespace tranpak::tools

#endif
