#include "channel/local_file.h"

#include "os/os.h"

#include <cerrno>

namespace tranpak {
namespace {

// Waits, no longer than the transfer has left, until the file can be read
// or written. 1 ready, 0 the limit passed (logged), -1 an error.
int AwaitFile(std::FILE *f, bool forWrite, const FrameDeadline &transfer)
{
    for (;;) {
        const FrameDeadline *passing = nullptr;
        const int left = transfer.MillisLeft(&passing);
        if (left <= 0) {
            WriteLimitPassed(transfer.log, *passing);
            return 0;
        }
        const int ready = os::FileWait(f, forWrite, left);
        if (ready != 0)
            return ready;
    }
}

}  // namespace

std::FILE *OpenLocal(const char *path, bool forWrite, const FrameDeadline &transfer)
{
    if (transfer.Bounded())
        return os::OpenNoWait(path, forWrite);
    return std::fopen(path, forWrite ? "w+b" : "rb");
}

int ReadLocal(std::FILE *f, char *bytes, int count, const FrameDeadline &transfer, bool *atEnd, int *error)
{
    if (!transfer.Bounded()) {
        const int n = static_cast<int>(std::fread(bytes, 1, static_cast<size_t>(count), f));
        if (n < count) {
            *atEnd = true;
            // A short read is the end only when the file said so: a failing
            // disk or a directory must not pass for a file that ended early.
            if (std::ferror(f)) {
                *error = errno;
                return kLocalFailed;
            }
        }
        return n;
    }
    // A pipe gives what its writer wrote so far; the block is gathered as
    // fread gathers it, so the frames are those of an unlimited transfer.
    int n = 0;
    while (n < count) {
        const int ready = AwaitFile(f, false, transfer);
        if (ready == 0)
            return kLocalLate;
        const int got = ready < 0 ? -1 : os::FileReadNow(f, bytes + n, count - n);
        if (got == os::kNotNow)
            continue;
        if (got < 0) {
            *error = errno;
            return kLocalFailed;
        }
        if (got == 0) {
            *atEnd = true;
            break;
        }
        n += got;
    }
    return n;
}

int WriteLocal(std::FILE *f, const char *bytes, int count, const FrameDeadline &transfer, int *error)
{
    if (!transfer.Bounded()) {
        if (std::fwrite(bytes, 1, static_cast<size_t>(count), f) != static_cast<size_t>(count) || std::fflush(f) != 0) {
            *error = errno;
            return kLocalFailed;
        }
        return 0;
    }
    int done = 0;
    while (done < count) {
        const int ready = AwaitFile(f, true, transfer);
        if (ready == 0)
            return kLocalLate;
        const int n = ready < 0 ? -1 : os::FileWriteNow(f, bytes + done, count - done);
        if (n == os::kNotNow)
            continue;
        if (n < 0) {
            *error = errno;
            return kLocalFailed;
        }
        done += n;
    }
    return 0;
}

}  // namespace tranpak
