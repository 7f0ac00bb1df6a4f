// Local files on POSIX: the files a transfer reads or writes, and the
// settings and definition files.
#include "os/os.h"
#include "os/posix/common_posix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace tranpak::os {
namespace {

// Links followed before a path counts as going round, as the system's ELOOP.
constexpr int kMaxLinkHops = 40;

int OpenRetried(const char *path, int flags, mode_t mode = 0)
{
    return RetryOnSignal([&] { return open(path, flags, mode); });
}

bool CopyFits(const char *text, size_t len, char *out, int size)
{
    if (size <= 0 || len > static_cast<size_t>(size - 1))
        return false;
    std::memcpy(out, text, len);
    out[len] = '\0';
    return true;
}

}  // namespace

PathKind LocalPathKind(const char *path)
{
    struct stat st {};
    if (stat(path, &st) != 0)
        return kPathAbsent;
    if (S_ISREG(st.st_mode))
        return kPathRegular;
    return S_ISDIR(st.st_mode) ? kPathDirectory : kPathOther;
}

int ProbeReadable(const char *path, int *error)
{
    int fd = OpenRetried(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
        close(fd);
        return 1;
    }
    *error = errno;
    return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
}

int LineFileOpen(LineFile &f, const char *path)
{
    f.pos = f.end = 0;
    // O_NONBLOCK keeps the open of a pipe without a writer from waiting;
    // a regular file reads the same either way, and the flag is dropped.
    f.fd = OpenRetried(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (f.fd < 0)
        return -1;
    struct stat st {};
    if (fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(f.fd, F_SETFL, 0) != 0) {
        close(f.fd);
        f.fd = -1;
        return -1;
    }
    return 0;
}

int ReadBytes(int fd, void *bytes, int count)
{
    return static_cast<int>(RetryOnSignal([&] { return read(fd, bytes, static_cast<size_t>(count)); }));
}

void CloseFile(int fd) { close(fd); }

int CanWriteFile(const char *path)
{
    int fd = OpenRetried(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    close(fd);
    return 1;
}

int FollowLinks(const char *path, char *out, int size)
{
    if (!CopyFits(path, std::strlen(path), out, size))
        return -1;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (lstat(out, &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        char target[PATH_MAX];
        ssize_t n = readlink(out, target, sizeof target - 1);
        if (n < 0)
            return -1;
        target[n] = '\0';
        // A relative target counts from the folder that holds the link.
        char joined[PATH_MAX];
        size_t folder = target[0] == '/' ? 0 : static_cast<size_t>(FolderPartLength(out));
        if (folder + static_cast<size_t>(n) >= sizeof joined)
            return -1;
        std::memcpy(joined, out, folder);
        std::memcpy(joined + folder, target, static_cast<size_t>(n) + 1);
        if (!CopyFits(joined, folder + static_cast<size_t>(n), out, size))
            return -1;
    }
    return -1;
}

int FolderPartLength(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<int>(slash - path) + 1;
}

std::FILE *CreateNewFile(const char *path, const char *like)
{
    int fd = OpenRetried(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (like != nullptr && stat(like, &st) == 0)
        fchmod(fd, st.st_mode & 07777);
    std::FILE *f = fdopen(fd, "wb");
    if (f == nullptr)
        close(fd);
    return f;
}

int PutInPlace(const char *from, const char *to) { return rename(from, to) == 0 ? 0 : -1; }

int NameFits(const char *path)
{
    const int folder = FolderPartLength(path);
    char dir[PATH_MAX];
    if (folder >= static_cast<int>(sizeof dir))
        return 0;  // no folder of that length can be reached
    if (folder == 0) {
        dir[0] = '.';
        dir[1] = '\0';
    } else {
        CopyFits(path, static_cast<size_t>(folder), dir, sizeof dir);
    }
    const long most = pathconf(dir, _PC_NAME_MAX);
    if (most < 0)
        return 1;  // no limit, or the folder cannot be examined
    return std::strlen(path + folder) <= static_cast<size_t>(most) ? 1 : 0;
}

const char *ErrorText(int error, char *out, int size)
{
    if (size <= 0)
        return out;
    out[0] = '\0';
    // glibc's strerror_r may hand back a text of its own instead of filling
    // out (the GNU form); the POSIX form fills out and returns a status.
    auto result = strerror_r(error, out, static_cast<size_t>(size));
    if constexpr (std::is_same_v<decltype(result), char *>) {
        if (result != out && result != nullptr)
            CopyFits(result, std::min(std::strlen(result), static_cast<size_t>(size - 1)), out, size);
    } else if (result != 0) {
        std::snprintf(out, static_cast<size_t>(size), "error %d", error);
    }
    return out;
}

}  // namespace tranpak::os
