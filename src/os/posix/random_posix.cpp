// POSIX randomness: getrandom, and /dev/urandom on a kernel without it.
#include "os/os.h"
#include "os/posix/common_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace tranpak::os {
namespace {

// Reads the rest from /dev/urandom: true when all count bytes came.
bool FromUrandom(unsigned char *out, int count)
{
    const int fd = RetryOnSignal([] { return open("/dev/urandom", O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return false;
    int got = 0;
    while (got < count) {
        const ssize_t n = RetryOnSignal([&] { return read(fd, out + got, static_cast<size_t>(count - got)); });
        if (n <= 0)
            break;
        got += static_cast<int>(n);
    }
    close(fd);
    return got == count;
}

}  // namespace

int RandomBytes(void *out, int count)
{
    unsigned char *bytes = static_cast<unsigned char *>(out);
    int got = 0;
    while (got < count) {
        const ssize_t n = RetryOnSignal([&] { return getrandom(bytes + got, static_cast<size_t>(count - got), 0); });
        if (n < 0)
            break;
        got += static_cast<int>(n);
    }
    if (got == count || (errno == ENOSYS && FromUrandom(bytes + got, count - got)))
        return 0;
    std::memset(out, 0, static_cast<size_t>(count));
    return -1;
}

}  // namespace tranpak::os
