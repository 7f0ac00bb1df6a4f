// Which file a transfer request names inside the served directory. The
// request text is checked first; the file system is then asked only
// through the served directory's handle (os::ServedDir), every step from
// there, so a request never opens, creates or replaces anything outside
// it, whatever is renamed meanwhile.
#ifndef TRANPAK_TOOLS_CONFINE_H
#define TRANPAK_TOOLS_CONFINE_H

#include "os_programs.h"

#include <string>

namespace tranpak::tools {

// The longest request text taken, in bytes.
inline constexpr size_t kMaxRequestSize = 200;

// False when the request text could reach outside the served directory
// (absolute paths, drive letters, backslashes, empty, "." or ".."
// components, control bytes, longer than kMaxRequestSize) or names a
// Windows device.
bool ConfinedRequest(const std::string &request);

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case, alone or with an
// extension ("nul.txt"), and with trailing dots or blanks: names that
// Windows opens as devices in every directory. Refused on every platform,
// so a served directory means the same everywhere.
bool IsReservedDeviceName(const std::string &component);

// The existing regular file to send, open for reading, or -1 with *why.
int OpenFetch(const os::ServedDir &dir, const std::string &request, std::string *why);

// Starts a store to an existing regular file or a new name in an existing
// directory: *store holds its temporary file. False with *why otherwise.
bool BeginStore(const os::ServedDir &dir, const std::string &request, os::PendingStore *store, std::string *why);

}  // namespace tranpak::tools

#endif
