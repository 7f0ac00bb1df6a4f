// A fetch that Ctrl-C can cut short. The library's fetch cannot be
// interrupted, so it runs on a thread of its own while the caller watches
// for the stop; it receives into "tranpak-<6 digits>.part" beside the
// local file (links followed) and renames that at the end.
#ifndef TRANPAK_TOOLS_FETCH_H
#define TRANPAK_TOOLS_FETCH_H

#include "tranpak.h"

#include <atomic>
#include <string>
#include <vector>

namespace tranpak::tools {

enum class FetchEnd { kDone, kFailed, kStopped };

// Fetches request into local on the session (text or binary). kFailed
// leaves the library's reason in the session. kStopped: stop became
// nonzero first; the temporary file of this call is removed: one that
// appeared beside local during the call and that this process holds open.
// Another process's, fetching into the same folder, is left alone. *left
// names those that may be this call's and could not be removed (where the
// system cannot tell whose a file is, every new one). The call goes on in
// the background then: the caller must end the process without touching
// the session again.
FetchEnd FetchStoppable(TpSession *s, const std::string &host, int port, const std::string &request,
                        const std::string &local, bool text, const std::atomic<int> &stop,
                        std::vector<std::string> *left);

// The names in a directory that have the form of the library's temporary
// fetch files.
std::vector<std::string> TemporaryFetchFiles(const std::string &directory);

}  // namespace tranpak::tools

#endif
