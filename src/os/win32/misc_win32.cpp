// Windows profile reader and sleeping: the system's own functions.
#include "os/profile_common.h"

#include <windows.h>

namespace tranpak::os {
namespace {

// Room for a settings path made absolute.
constexpr DWORD kFullPathSize = 2048;

}  // namespace

// A path without folders would be looked for in the Windows folder; the
// settings file is looked for where a relative path leads on every
// platform, from the current folder.
int ReadProfileString(const char *section, const char *key, const char *fallback, char *out, int size, const char *file)
{
    if (size <= 0)
        return 0;
    char full[kFullPathSize];
    DWORD n = GetFullPathNameA(file, sizeof full, full, nullptr);
    const char *path = (n > 0 && n < sizeof full) ? full : file;
    return static_cast<int>(GetPrivateProfileStringA(section, key, fallback, out, static_cast<DWORD>(size), path));
}

// The values from the system's reader, which reads the file itself; the
// keys of a checked section from the file, line by line.
int ReadProfile(const char *file, const ProfileKey *keys, int count, ProfileStray *stray)
{
    if (count > kMostProfileKeys)
        return -1;
    if (stray != nullptr)
        ScanProfileFile(file, nullptr, 0, stray);
    for (int i = 0; i < count; ++i)
        ReadProfileString(keys[i].section, keys[i].key, keys[i].fallback, keys[i].out, keys[i].size, file);
    return 0;
}

// The process's environment block, so a value set with SetEnvironmentVariable
// or _putenv by the application is seen whichever C runtime it uses.
int ReadEnvVar(const char *name, char *out, int size)
{
    if (size <= 0)
        return -1;
    out[0] = '\0';
    DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
    if (n == 0)
        return 0;
    if (n >= static_cast<DWORD>(size)) {
        out[0] = '\0';
        return -1;
    }
    return static_cast<int>(n);
}

int SetEnvVar(const char *name, const char *value) { return SetEnvironmentVariableA(name, value) ? 0 : -1; }

void SleepMillis(int millis) { Sleep(static_cast<DWORD>(millis)); }

int LocalTime(std::time_t t, std::tm *out)
{
    std::tm local;
    if (localtime_s(&local, &t) != 0)
        return -1;
    *out = local;
    return 0;
}

}  // namespace tranpak::os
