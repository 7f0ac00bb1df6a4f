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
// nonzero first; every temporary file that appeared beside local during
// the call is removed, and *left names those that could not be. The call
// goes on in the background then: the caller must end the process without
// touching the session again.
FetchEnd FetchStoppable(TpSession *s, const std::string &host, int port, const std::string &request,
                        const std::string &local, bool text, const std::atomic<int> &stop,
                        std::vector<std::string> *left);

// The names in a directory that have the form of the library's temporary
// fetch files.
std::vector<std::string> TemporaryFetchFiles(const std::string &directory);

}  // namespace tranpak::tools

#endif
