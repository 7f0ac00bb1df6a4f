// Local files of a transfer with a time limit on POSIX: the descriptor is
// opened with O_NONBLOCK and stays so, so neither the open of a pipe
// without a writer or reader nor a read or write on it ever waits; poll
// does the waiting, with the time the transfer has left.
#include "platform/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tranpak::plat {

std::FILE *OpenNoWait(const char *path, bool forWrite)
{
    // A pipe opened for reading and writing has a reader at once (this
    // process), as "w+b" gives; only its writes can wait, once it is full.
    const int flags = forWrite ? O_RDWR | O_CREAT | O_TRUNC : O_RDONLY;
    int fd;
    do {
        fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    std::FILE *f = fdopen(fd, forWrite ? "w+b" : "rb");
    if (f == nullptr)
        close(fd);
    return f;
}

int FileWait(std::FILE *f, bool forWrite, int millis)
{
    // A pipe whose writer has not come yet is not ready (Linux waits for
    // one), although a read would find its end at once.
    pollfd p{fileno(f), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int rc = poll(&p, 1, millis);
    if (rc < 0)
        return errno == EINTR ? 0 : -1;
    // An error or hang-up is "ready": the next call tells which.
    return rc > 0 ? 1 : 0;
}

int FileReadNow(std::FILE *f, void *bytes, int count)
{
    ssize_t n;
    do {
        n = read(fileno(f), bytes, static_cast<size_t>(count));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? kNotNow : -1;
    return static_cast<int>(n);
}

int FileWriteNow(std::FILE *f, const void *bytes, int count)
{
    ssize_t n;
    do {
        n = write(fileno(f), bytes, static_cast<size_t>(count));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? kNotNow : -1;
    return n == 0 ? kNotNow : static_cast<int>(n);
}

}  // namespace tranpak::plat
