// The profile (.ini) reader for POSIX: the one pass of profile_common.cpp,
// which keeps the rules of Windows' GetPrivateProfileStringA for the files
// this library reads.
#include "os/profile_common.h"

#include <cstring>

namespace tranpak::os {

int ReadProfile(const char *file, const ProfileKey *keys, int count, ProfileStray *stray)
{
    if (count > kMostProfileKeys)
        return -1;
    ScanProfileFile(file, keys, count, stray);
    return 0;
}

int ReadProfileString(const char *section, const char *key, const char *fallback, char *out, int size, const char *file)
{
    if (size <= 0)
        return 0;
    const ProfileKey one{section, key, fallback, out, size};
    ScanProfileFile(file, &one, 1, nullptr);
    return static_cast<int>(std::strlen(out));
}

}  // namespace tranpak::os
