// Windows profile reader and sleeping: the system's own functions.
#include "platform/platform.h"

#include <windows.h>

namespace tranpak::plat {

int ReadProfileString(const char *section, const char *key, const char *fallback, char *out, int size,
                      const char *file)
{
    if (size <= 0)
        return 0;
    return static_cast<int>(
        GetPrivateProfileStringA(section, key, fallback, out, static_cast<DWORD>(size), file));
}

void SleepMillis(int millis) { Sleep(static_cast<DWORD>(millis)); }

}  // namespace tranpak::plat
