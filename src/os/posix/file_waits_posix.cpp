// Local files of a transfer with a time limit on POSIX: the descriptor is
// opened with O_NONBLOCK and stays so, so neither the open of a pipe
// without a writer or reader nor a read or write on it ever waits; poll
// does the waiting, with the time the transfer has left.
#include "os/os.h"
#include "os/posix/common_posix.h"

#include <fcntl.h>
#include <unistd.h>

namespace tranpak::os {

std::FILE *OpenNoWait(const char *path, bool forWrite)
{
    // A pipe opened for reading and writing has a reader at once (this
    // process), as "w+b" gives; only its writes can wait, once it is full.
    const int flags = forWrite ? O_RDWR | O_CREAT | O_TRUNC : O_RDONLY;
    const int fd = RetryOnSignal([&] { return open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666); });
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
    return PollOne(fileno(f), forWrite, millis);
}

int FileReadNow(std::FILE *f, void *bytes, int count)
{
    return NotNowOr(RetryOnSignal([&] { return read(fileno(f), bytes, static_cast<size_t>(count)); }));
}

int FileWriteNow(std::FILE *f, const void *bytes, int count)
{
    const int n = NotNowOr(RetryOnSignal([&] { return write(fileno(f), bytes, static_cast<size_t>(count)); }));
    return n == 0 ? kNotNow : n;
}

}  // namespace tranpak::os
