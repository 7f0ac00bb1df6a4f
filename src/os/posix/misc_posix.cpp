// POSIX sleeping. The load-time start-up has nothing to do here: POSIX
// sockets need no start-up, and the library never raises SIGPIPE because
// every send passes MSG_NOSIGNAL.
#include "os/os.h"
#include "os/posix/common_posix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace tranpak::os {

int ReadEnvVar(const char *name, char *out, int size)
{
    if (size <= 0)
        return -1;
    out[0] = '\0';
    const char *value = std::getenv(name);
    if (value == nullptr)
        return 0;
    size_t len = std::strlen(value);
    if (len > static_cast<size_t>(size - 1))
        return -1;
    std::memcpy(out, value, len + 1);
    return static_cast<int>(len);
}

int SetEnvVar(const char *name, const char *value) { return setenv(name, value, 1) == 0 ? 0 : -1; }

int LocalTime(std::time_t t, std::tm *out)
{
    std::tm local;
    if (localtime_r(&t, &local) == nullptr)
        return -1;
    *out = local;
    return 0;
}

void SleepMillis(int millis)
{
    timespec ts{millis / 1000, static_cast<long>(millis % 1000) * 1000000L};
    RetryOnSignal([&] { return nanosleep(&ts, &ts); });
}

}  // namespace tranpak::os
