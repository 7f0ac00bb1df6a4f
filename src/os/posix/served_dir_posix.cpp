// Files below a served directory on POSIX systems, and the descriptor
// calls that go with them: see ServedDir in os_programs.h for how a path
// is kept from leading outside. A store's life is in served_dir_common.cpp.
#include "os/posix/common_posix.h"
#include "os/served_dir_common.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#if defined(SYS_openat2) && __has_include(<linux/openat2.h>)
#  include <linux/openat2.h>
#  define TRANPAK_HAVE_OPENAT2 1
#endif

namespace tranpak::os {

int WriteSome(int fd, const void *bytes, int count)
{
    return static_cast<int>(RetryOnSignal([&] { return write(fd, bytes, static_cast<size_t>(count)); }));
}

bool SyncAndClose(int fd)
{
    bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

namespace {

// Directories on the way are opened only to look up names in them.
#ifdef O_PATH
constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Links followed one after another by a store before it gives up, as the
// kernel's own limit for a lookup.
constexpr int kMaxLinkHops = 40;

// Room for a path below the served directory, the closing NUL included:
// a request, its directory part, or a link's target joined to its link's
// directory. A longer one is refused as kPathTooLong, never cut.
constexpr size_t kPathRoom = PATH_MAX;
// Room for a link's target as read, one more than the longest the system
// makes, so that a target that filled it is seen as too long.
constexpr size_t kTargetRoom = PATH_MAX + 1;

#ifdef TRANPAK_HAVE_OPENAT2
// The kernel answers EAGAIN when a rename anywhere on the system ran while
// it resolved a ".." (a link's "../name" that stays inside): it cannot
// then be sure the step stayed beneath. Asking again is the remedy it
// asks for; a lookup starved by renames this many times gives up.
constexpr int kBeneathAttempts = 256;

// The kernel refuses any step above dirfd, an absolute link included.
int OpenBeneath(int dirfd, const char *path, int flags)
{
    open_how how{};
    how.flags = static_cast<unsigned long long>(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    int attempts = 0;
    do {
        fd = syscall(SYS_openat2, dirfd, path[0] == '\0' ? "." : path, &how, sizeof how);
    } while (fd < 0 && (errno == EINTR || (errno == EAGAIN && ++attempts < kBeneathAttempts)));
    return static_cast<int>(fd);
}
#else
int OpenBeneath(int, const char *, int)
{
    errno = ENOSYS;
    return -1;
}
#endif

Refused SystemRefusal(int error, char *detail, int size)
{
    if (detail != nullptr && size > 0)
        ErrorText(error, detail, size);
    return Refused::kSystem;
}

// "a/b/c" into "a/b" (copied into parent, of kPathRoom bytes) and "c" (a
// pointer into path); "c" into "" and "c". False when path does not fit.
bool Split(const char *path, char *parent, const char **name)
{
    const size_t length = std::strlen(path);
    if (length >= kPathRoom)
        return false;
    const char *slash = std::strrchr(path, '/');
    const size_t kept = slash == nullptr ? 0 : static_cast<size_t>(slash - path);
    std::memcpy(parent, path, kept);
    parent[kept] = '\0';
    *name = slash == nullptr ? path : slash + 1;
    return true;
}

bool IsLinkAt(int dirfd, const char *name)
{
    struct stat st {};
    return fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// Why a directory on the way could not be opened.
Refused WayRefusal(int error, bool walking, int dirfd, const char *name, char *detail, int size)
{
    switch (error) {
    case ENOENT:
        return Refused::kMissingOnTheWay;
    case EXDEV:
        return Refused::kLinkOutside;
    case ELOOP:
    case ENOTDIR:
        if (walking && IsLinkAt(dirfd, name))
            return Refused::kLink;
        return error == ELOOP ? Refused::kLinkLoop : Refused::kNotDirectoryOnTheWay;
    default:
        return SystemRefusal(error, detail, size);
    }
}

// The descriptor of directory path below root, or -1 with *refused. The
// walk cuts path (the caller's own copy) at each '/' as it goes.
int OpenDirectoryBelow(int root, bool beneath, char *path, Refused *refused, char *detail, int size)
{
    if (beneath) {
        const int fd = OpenBeneath(root, path, kDirectoryFlags);
        if (fd < 0)
            *refused = WayRefusal(errno, false, root, path, detail, size);
        return fd;
    }
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        *refused = SystemRefusal(errno, detail, size);
        return -1;
    }
    char *part = path;
    while (*part != '\0') {
        char *slash = std::strchr(part, '/');
        char *rest = slash == nullptr ? part + std::strlen(part) : slash + 1;
        if (slash != nullptr)
            *slash = '\0';
        const int next = openat(fd, part, kDirectoryFlags | O_NOFOLLOW);
        if (next < 0)
            *refused = WayRefusal(errno, true, fd, part, detail, size);
        close(fd);
        if (next < 0)
            return -1;
        fd = next;
        part = rest;
    }
    return fd;
}

// Why the last component could not be opened from its directory parent.
Refused LastRefusal(int error, bool beneath, int parent, const char *name, char *detail, int size)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return IsLinkAt(parent, name) ? Refused::kLinkNowhere : Refused::kMissing;
    case EXDEV:
        return Refused::kLinkOutside;
    case ELOOP:
    case EMLINK:  // O_NOFOLLOW on a link, on the BSDs
        return beneath ? Refused::kLinkLoop : Refused::kLink;
    default:
        return SystemRefusal(error, detail, size);
    }
}

Refused KindRefusal(mode_t mode)
{
    if (S_ISREG(mode))
        return Refused::kNone;
    return S_ISDIR(mode) ? Refused::kDirectory : Refused::kNotRegular;
}

// A link's target taken as a request from the link's own directory: parent
// "/" target into path (kPathRoom bytes); false when it does not fit.
bool JoinTarget(const char *parent, const char *target, size_t targetLength, char *path)
{
    const size_t head = std::strlen(parent);
    const size_t joint = head == 0 ? 0 : 1;
    if (head + joint + targetLength >= kPathRoom)
        return false;
    std::memcpy(path, parent, head);
    if (joint != 0)
        path[head] = '/';
    std::memcpy(path + head + joint, target, targetLength);
    path[head + joint + targetLength] = '\0';
    return true;
}

}  // namespace

ServedDir::~ServedDir()
{
    if (State().fd >= 0)
        close(State().fd);
}

bool ServedDir::Open(const char *path, Lookup lookup)
{
    Impl &dir = State();
    const int fd = open(path, kDirectoryFlags);
    if (fd < 0)
        return false;
    if (dir.fd >= 0)
        close(dir.fd);
    dir.fd = fd;
    // ENOSYS on kernels before 5.6, EPERM in sandboxes that deny calls
    // they do not know: either way, the walk.
    const int probe = lookup == Lookup::kBest ? OpenBeneath(fd, ".", kDirectoryFlags) : -1;
    dir.beneath = probe >= 0;
    if (probe >= 0)
        close(probe);
    return true;
}

bool ServedDir::FollowsLinksInside() const { return State().beneath; }

int ServedDir::OpenForRead(const char *relative, Refused *refused, char *detail, int detailSize) const
{
    const Impl &dir = State();
    char parentPath[kPathRoom];
    const char *name = nullptr;
    if (!Split(relative, parentPath, &name)) {
        *refused = SystemDetail(kPathTooLong, detail, detailSize);
        return -1;
    }
    int fd = dir.beneath ? OpenBeneath(dir.fd, relative, kReadFlags) : -1;
    int error = fd < 0 && dir.beneath ? errno : 0;
    if (fd < 0 && error == EXDEV) {
        *refused = Refused::kLinkOutside;
        return -1;
    }
    if (fd < 0) {
        // The walk opens the last component here; openat2 comes here only
        // to tell why it failed.
        const int parent = OpenDirectoryBelow(dir.fd, dir.beneath, parentPath, refused, detail, detailSize);
        if (parent < 0)
            return -1;
        if (!dir.beneath) {
            fd = openat(parent, name, kReadFlags | O_NOFOLLOW);
            error = errno;
        }
        if (fd < 0)
            *refused = LastRefusal(error, dir.beneath, parent, name, detail, detailSize);
        close(parent);
        if (fd < 0)
            return -1;
    }
    struct stat st {};
    *refused = fstat(fd, &st) != 0 ? SystemRefusal(errno, detail, detailSize) : KindRefusal(st.st_mode);
    if (*refused != Refused::kNone) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK);
    return fd;
}

bool FindStorePlace(const ServedDir::Impl &dir, const char *relative, PendingStore::Impl &place, Refused *refused,
                    char *detail, int detailSize)
{
    char path[kPathRoom], parentPath[kPathRoom];
    const char *name = nullptr;
    if (std::strlen(relative) >= kPathRoom) {
        *refused = SystemDetail(kPathTooLong, detail, detailSize);
        return false;
    }
    std::strcpy(path, relative);
    int parent = -1;
    for (int hops = 0;; ++hops) {
        Split(path, parentPath, &name);
        if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            *refused = Refused::kDirectory;  // a link's target such as "sub/" or ".."
            return false;
        }
        char way[kPathRoom];
        std::memcpy(way, parentPath, std::strlen(parentPath) + 1);  // the walk cuts its copy
        parent = OpenDirectoryBelow(dir.fd, dir.beneath, way, refused, detail, detailSize);
        if (parent < 0)
            return false;
        struct stat st {};
        if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                break;
            *refused = SystemRefusal(errno, detail, detailSize);
        } else if (!S_ISLNK(st.st_mode)) {
            *refused = KindRefusal(st.st_mode);
            if (*refused == Refused::kNone)
                break;
        } else if (!dir.beneath || hops == kMaxLinkHops) {
            *refused = dir.beneath ? Refused::kLinkLoop : Refused::kLink;
        } else {
            // The link's target, taken as a request from the link's own
            // directory; the next lookup keeps it beneath the root.
            char target[kTargetRoom];
            const ssize_t n = readlinkat(parent, name, target, sizeof target);
            close(parent);
            if (n <= 0 || target[0] == '/') {
                *refused = n < 0 ? SystemRefusal(errno, detail, detailSize) : Refused::kLinkOutside;
                return false;
            }
            if (!JoinTarget(parentPath, target, static_cast<size_t>(n), path)) {
                *refused = SystemDetail(kPathTooLong, detail, detailSize);
                return false;
            }
            continue;
        }
        close(parent);
        return false;
    }
    if (std::strlen(name) >= kNameRoom) {
        *refused = SystemDetail(kPathTooLong, detail, detailSize);
        close(parent);
        return false;
    }
    place.parent = parent;
    std::memcpy(place.name, name, std::strlen(name) + 1);
    return true;
}

// Short and of its own form whatever the target's name, so that a name
// near the system's limit (reached through a link) still leaves room for
// it.
int CreateTemporary(const ServedDir::Impl &, const char *, PendingStore::Impl &place, long count, Refused *refused,
                    char *detail, int detailSize)
{
    std::snprintf(place.temporary, sizeof place.temporary, ".tranpak-%ld-%ld.tmp", ProcessId(), count);
    const int fd = openat(place.parent, place.temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        *refused = SystemRefusal(errno, detail, detailSize);
    return fd;
}

bool PutTemporaryInPlace(PendingStore::Impl &place)
{
    return renameat(place.parent, place.temporary, place.parent, place.name) == 0;
}

void RemoveTemporary(PendingStore::Impl &place) { unlinkat(place.parent, place.temporary, 0); }

void ReleasePlace(PendingStore::Impl &place) { close(place.parent); }

long ProcessId() { return static_cast<long>(getpid()); }

namespace {

// Descriptors looked at where /proc/self/fd cannot be listed.
constexpr long kMaxDescriptorsLooked = 65536;

bool SameFile(int fd, const struct stat &file)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino;
}

}  // namespace

int HeldOpenHere(const char *path)
{
    struct stat file {};
    if (stat(path, &file) != 0)
        return 0;  // gone: held by nobody under that name
    if (DIR *fds = opendir("/proc/self/fd")) {
        bool held = false;
        while (const dirent *e = readdir(fds))
            if (e->d_name[0] != '.' && SameFile(std::atoi(e->d_name), file))
                held = true;
        closedir(fds);
        return held ? 1 : 0;
    }
    long most = sysconf(_SC_OPEN_MAX);
    most = most < 0 || most > kMaxDescriptorsLooked ? kMaxDescriptorsLooked : most;
    for (int fd = 0; fd < most; ++fd)
        if (SameFile(fd, file))
            return 1;
    return 0;
}

}  // namespace tranpak::os
