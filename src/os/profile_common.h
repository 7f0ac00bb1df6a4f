// The profile (.ini) file read line by line, the same on every system
// (profile_common.cpp): what the platforms' profile readers build on.
#ifndef TRANPAK_OS_PROFILE_COMMON_H
#define TRANPAK_OS_PROFILE_COMMON_H

#include "os/os.h"

namespace tranpak::os {

// One pass over the file, by the rules of the POSIX profile reader: each
// of the count keys its value (the first matching key of the first
// section of its name) or its fallback, and stray (when not nullptr) as
// ProfileStray says. A file that cannot be opened gives every key its
// fallback and no stray key. count is at most kMostProfileKeys.
void ScanProfileFile(const char *file, const ProfileKey *keys, int count, ProfileStray *stray);

}  // namespace tranpak::os

#endif
