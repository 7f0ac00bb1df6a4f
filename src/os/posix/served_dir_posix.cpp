// Files below a served directory on POSIX systems, and the descriptor
// calls that go with them: see ServedDir in os_programs.h for how a path
// is kept from leading outside.
#include "os/os_programs.h"
#include "os/posix/common_posix.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#if defined(SYS_openat2) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define TRANPAK_HAVE_OPENAT2 1
#endif

namespace tranpak::os {

bool WriteBytes(int fd, const void *bytes, int count)
{
    const char *p = static_cast<const char *>(bytes);
    while (count > 0) {
        const ssize_t n = RetryOnSignal([&] { return write(fd, p, static_cast<size_t>(count)); });
        if (n <= 0)
            return false;
        p += n;
        count -= static_cast<int>(n);
    }
    return true;
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

#ifdef TRANPAK_HAVE_OPENAT2
// The kernel answers EAGAIN when a rename anywhere on the system ran while
// it resolved a ".." (a link's "../name" that stays inside): it cannot
// then be sure the step stayed beneath. Asking again is the remedy it
// asks for; a lookup starved by renames this many times gives up.
constexpr int kBeneathAttempts = 256;

// The kernel refuses any step above dirfd, an absolute link included.
int OpenBeneath(int dirfd, const std::string &path, int flags)
{
    open_how how{};
    how.flags = static_cast<unsigned long long>(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    int attempts = 0;
    do {
        fd = syscall(SYS_openat2, dirfd, path.empty() ? "." : path.c_str(), &how, sizeof how);
    } while (fd < 0 && (errno == EINTR || (errno == EAGAIN && ++attempts < kBeneathAttempts)));
    return static_cast<int>(fd);
}
#else
int OpenBeneath(int, const std::string &, int)
{
    errno = ENOSYS;
    return -1;
}
#endif

// "a/b/c" into "a/b" and "c"; "c" into "" and "c".
void Split(const std::string &path, std::string *parent, std::string *name)
{
    const size_t slash = path.rfind('/');
    *parent = slash == std::string::npos ? "" : path.substr(0, slash);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsLinkAt(int dirfd, const std::string &name)
{
    struct stat st {};
    return fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

Refused SystemRefusal(int error, std::string *detail)
{
    char text[kErrorTextSize];
    *detail = ErrorText(error, text, sizeof text);
    return Refused::kSystem;
}

// Why a directory on the way could not be opened.
Refused WayRefusal(int error, bool walking, int dirfd, const std::string &name, std::string *detail)
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
        return SystemRefusal(error, detail);
    }
}

// The descriptor of directory path below root, or -1 with *refused.
int OpenDirectoryBelow(int root, bool beneath, const std::string &path, Refused *refused, std::string *detail)
{
    if (beneath) {
        const int fd = OpenBeneath(root, path, kDirectoryFlags);
        if (fd < 0)
            *refused = WayRefusal(errno, false, root, path, detail);
        return fd;
    }
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        *refused = SystemRefusal(errno, detail);
        return -1;
    }
    size_t start = 0;
    while (start < path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(start, slash - start);
        const int next = openat(fd, part.c_str(), kDirectoryFlags | O_NOFOLLOW);
        if (next < 0)
            *refused = WayRefusal(errno, true, fd, part, detail);
        close(fd);
        if (next < 0)
            return -1;
        fd = next;
        start = slash + 1;
    }
    return fd;
}

// Why the last component could not be opened from its directory parent.
Refused LastRefusal(int error, bool beneath, int parent, const std::string &name, std::string *detail)
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
        return SystemRefusal(error, detail);
    }
}

Refused KindRefusal(mode_t mode)
{
    if (S_ISREG(mode))
        return Refused::kNone;
    return S_ISDIR(mode) ? Refused::kDirectory : Refused::kNotRegular;
}

}  // namespace

struct ServedDir::Impl {
    int fd = -1;
    bool beneath = false;
};

struct PendingStore::Impl {
    int parent = -1;
    std::string temporary, name;  // both in parent
};

ServedDir::ServedDir() : impl_(new Impl) {}

ServedDir::~ServedDir()
{
    if (impl_->fd >= 0)
        close(impl_->fd);
    delete impl_;
}

bool ServedDir::Open(const std::string &path, Lookup lookup)
{
    const int fd = open(path.c_str(), kDirectoryFlags);
    if (fd < 0)
        return false;
    if (impl_->fd >= 0)
        close(impl_->fd);
    impl_->fd = fd;
    // ENOSYS on kernels before 5.6, EPERM in sandboxes that deny calls
    // they do not know: either way, the walk.
    const int probe = lookup == Lookup::kBest ? OpenBeneath(fd, ".", kDirectoryFlags) : -1;
    impl_->beneath = probe >= 0;
    if (probe >= 0)
        close(probe);
    return true;
}

bool ServedDir::FollowsLinksInside() const { return impl_->beneath; }

int ServedDir::OpenForRead(const std::string &relative, Refused *refused, std::string *detail) const
{
    std::string parentPath, name;
    Split(relative, &parentPath, &name);
    int fd = impl_->beneath ? OpenBeneath(impl_->fd, relative, kReadFlags) : -1;
    int error = fd < 0 && impl_->beneath ? errno : 0;
    if (fd < 0 && error == EXDEV) {
        *refused = Refused::kLinkOutside;
        return -1;
    }
    if (fd < 0) {
        // The walk opens the last component here; openat2 comes here only
        // to tell why it failed.
        const int parent = OpenDirectoryBelow(impl_->fd, impl_->beneath, parentPath, refused, detail);
        if (parent < 0)
            return -1;
        if (!impl_->beneath) {
            fd = openat(parent, name.c_str(), kReadFlags | O_NOFOLLOW);
            error = errno;
        }
        if (fd < 0)
            *refused = LastRefusal(error, impl_->beneath, parent, name, detail);
        close(parent);
        if (fd < 0)
            return -1;
    }
    struct stat st {};
    *refused = fstat(fd, &st) != 0 ? SystemRefusal(errno, detail) : KindRefusal(st.st_mode);
    if (*refused != Refused::kNone) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK);
    return fd;
}

bool ServedDir::StoreBegin(const std::string &relative, PendingStore *store, Refused *refused,
                           std::string *detail) const
{
    static std::atomic<long> temporaries{0};
    std::string path = relative, parentPath, name;
    int parent = -1;
    for (int hops = 0;; ++hops) {
        Split(path, &parentPath, &name);
        if (name.empty() || name == "." || name == "..") {
            *refused = Refused::kDirectory;  // a link's target such as "sub/" or ".."
            return false;
        }
        parent = OpenDirectoryBelow(impl_->fd, impl_->beneath, parentPath, refused, detail);
        if (parent < 0)
            return false;
        struct stat st {};
        if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                break;
            *refused = SystemRefusal(errno, detail);
        } else if (!S_ISLNK(st.st_mode)) {
            *refused = KindRefusal(st.st_mode);
            if (*refused == Refused::kNone)
                break;
        } else if (!impl_->beneath || hops == kMaxLinkHops) {
            *refused = impl_->beneath ? Refused::kLinkLoop : Refused::kLink;
        } else {
            // The link's target, taken as a request from the link's own
            // directory; the next lookup keeps it beneath the root.
            char target[PATH_MAX];
            const ssize_t n = readlinkat(parent, name.c_str(), target, sizeof target - 1);
            close(parent);
            if (n <= 0 || target[0] == '/') {
                *refused = n < 0 ? SystemRefusal(errno, detail) : Refused::kLinkOutside;
                return false;
            }
            path = (parentPath.empty() ? "" : parentPath + "/") + std::string(target, static_cast<size_t>(n));
            continue;
        }
        close(parent);
        return false;
    }
    // Short and of its own form whatever the target's name, so that a
    // name near the system's limit (reached through a link) still leaves
    // room for it.
    const std::string temporary = ".tranpak-" + std::to_string(ProcessId()) + "-" +
                                  std::to_string(++temporaries) + ".tmp";
    const int fd = openat(parent, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *refused = SystemRefusal(errno, detail);
        close(parent);
        return false;
    }
    store->Abandon();
    store->impl_ = new PendingStore::Impl{parent, temporary, name};
    store->fd_ = fd;
    *refused = Refused::kNone;
    return true;
}

bool PendingStore::Commit()
{
    if (impl_ == nullptr || fd_ >= 0 || impl_->temporary.empty())
        return false;
    if (renameat(impl_->parent, impl_->temporary.c_str(), impl_->parent, impl_->name.c_str()) != 0)
        return false;
    impl_->temporary.clear();
    return true;
}

void PendingStore::Abandon()
{
    if (impl_ == nullptr)
        return;
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    if (!impl_->temporary.empty())
        unlinkat(impl_->parent, impl_->temporary.c_str(), 0);
    close(impl_->parent);
    delete impl_;
    impl_ = nullptr;
}

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

int HeldOpenHere(const std::string &path)
{
    struct stat file {};
    if (stat(path.c_str(), &file) != 0)
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
