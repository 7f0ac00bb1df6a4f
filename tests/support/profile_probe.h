// A value of the settings file as the library's profile reader returns it.
#ifndef TRANPAK_TESTS_PROFILE_PROBE_H
#define TRANPAK_TESTS_PROFILE_PROBE_H

#include "message/settings.h"
#include "os.h"

#include <cstring>
#include <string>

namespace tranpak::test {

// The value of key in section of the settings file (fallback when there is
// none), read into room for size bytes behind which the reader must write
// nothing.
inline std::string Profile(const char *section, const char *key, const char *fallback, int size = 300)
{
    char out[400];
    std::memset(out, '#', sizeof out);
    os::ReadProfileString(section, key, fallback, out, size, kSettingsFile);
    return out;
}

}  // namespace tranpak::test

#endif
