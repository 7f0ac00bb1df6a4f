// POSIX sleeping. The load-time start-up has nothing to do here: POSIX
// sockets need no start-up, and the library never raises SIGPIPE because
// every send passes MSG_NOSIGNAL.
#include "platform/platform.h"

#include <cerrno>
#include <ctime>

namespace tranpak::plat {

void SleepMillis(int millis)
{
    timespec ts{millis / 1000, static_cast<long>(millis % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace tranpak::plat
