// Local files for the fetch functions, on POSIX.
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tranpak::plat {

PathKind LocalPathKind(const char *path)
{
    struct stat st {};
    if (stat(path, &st) != 0)
        return kPathAbsent;
    return S_ISREG(st.st_mode) ? kPathRegular : kPathOther;
}

int FollowLinks(const char *path, char *out, int size)
{
    struct stat st {};
    static char resolved[PATH_MAX];
    const char *result = path;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode) && realpath(path, resolved) != nullptr)
        result = resolved;
    size_t len = std::strlen(result);
    if (size <= 0 || len > static_cast<size_t>(size - 1))
        return -1;
    std::memcpy(out, result, len + 1);
    return 0;
}

std::FILE *CreateNewFile(const char *path, const char *like)
{
    int fd;
    do {
        fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    } while (fd < 0 && errno == EINTR);
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

}  // namespace tranpak::plat
