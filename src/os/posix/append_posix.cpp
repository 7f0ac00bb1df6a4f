// Appending whole texts to the error log and the trace on POSIX: one
// write(2) on a descriptor opened with O_APPEND moves to the end and
// writes in one step, so appenders never interleave. O_NONBLOCK keeps a
// log that is a pipe from holding the caller: with no reader the open
// fails at once (ENXIO), and a full pipe takes nothing (or, of a text
// longer than the pipe takes in one piece, a part); the rest is lost then,
// as for any log that cannot be written. A regular file is written the
// same either way.
#include "os/os.h"
#include "os/posix/common_posix.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tranpak::os {

int AppendText(const char *path, const char *text, int count)
{
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    int rc = 0;
    while (count > 0) {
        const int piece = count < kAppendTextMax ? count : kAppendTextMax;
        const ssize_t n = RetryOnSignal([&] { return write(fd, text, static_cast<size_t>(piece)); });
        if (n <= 0) {
            rc = -1;
            break;
        }
        text += n;
        count -= static_cast<int>(n);
    }
    close(fd);
    return rc;
}

}  // namespace tranpak::os
