// The tools' operating system calls on POSIX systems.
#include "os.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#if defined(SYS_openat2) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define TRANPAK_HAVE_OPENAT2 1
#endif

namespace tranpak::tools::os {

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

void OnStopRequest(void (*handler)(int))
{
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocked call returns to look at the flag
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int SockStartup() { return 0; }

int SockListen(const char *address, int port, int backlog, std::string *why)
{
    in_addr_t a = inet_addr(address);
    // inet_addr answers INADDR_NONE for errors and for the broadcast
    // address alike; only the latter's literal text is that address.
    if (a == INADDR_NONE && std::strcmp(address, "255.255.255.255") != 0) {
        if (why != nullptr)
            *why = "not an IPv4 address";
        return -1;
    }
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) {
        if (why != nullptr)
            *why = std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<unsigned short>(port & 0xFFFF));
    sin.sin_addr.s_addr = a;
    if (bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 || listen(s, backlog) < 0) {
        if (why != nullptr)
            *why = std::strerror(errno);
        close(s);
        return -1;
    }
    return s;
}

int SockLocalPort(int sock)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getsockname(sock, reinterpret_cast<sockaddr *>(&sin), &len) < 0)
        return -1;
    return ntohs(sin.sin_port);
}

int SockAccept(int sock)
{
    int s;
    do {
        s = accept(sock, nullptr, nullptr);
    } while (s < 0 && errno == EINTR);
    return s < 0 ? -1 : s;
}

int SockPeekSome(int sock, void *bytes, int count)
{
    ssize_t n;
    do {
        n = recv(sock, bytes, static_cast<size_t>(count), MSG_PEEK);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int SockAbort(int sock)
{
    linger hard{1, 0};
    setsockopt(sock, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    return close(sock) < 0 ? -1 : 0;
}

int SockSetRecvTimeout(int sock, int millis)
{
    timeval tv{};
    tv.tv_sec = millis / 1000;
    tv.tv_usec = (millis % 1000) * 1000;
    return setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) < 0 ? -1 : 0;
}

int SockClose(int sock) { return close(sock) < 0 ? -1 : 0; }

int SetNonBlocking(int sock)
{
    int flags = fcntl(sock, F_GETFL, 0);
    return flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

int WaitSocket(int sock, bool forWrite, int millis)
{
    pollfd p{sock, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int rc = poll(&p, 1, millis);
    if (rc < 0)
        return errno == EINTR ? 0 : -1;
    return rc == 0 ? 0 : 1;
}

int RecvNow(int sock, void *bytes, int count)
{
    ssize_t n = recv(sock, bytes, static_cast<size_t>(count), MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : -1;
    return static_cast<int>(n);
}

int SendNow(int sock, const void *bytes, int count)
{
    ssize_t n = send(sock, bytes, static_cast<size_t>(count), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : -1;
    return static_cast<int>(n);
}

int ReadBytes(int fd, void *bytes, int count)
{
    ssize_t n;
    do {
        n = read(fd, bytes, static_cast<size_t>(count));
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

bool WriteBytes(int fd, const void *bytes, int count)
{
    const char *p = static_cast<const char *>(bytes);
    while (count > 0) {
        ssize_t n = write(fd, p, static_cast<size_t>(count));
        if (n < 0 && errno == EINTR)
            continue;
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

void CloseFile(int fd) { close(fd); }

// ---- files below a served directory ----

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
    *detail = std::strerror(error);
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

std::string ConnectProblem(const std::string &host, int port, int millis)
{
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return "";
    sockaddr_in sin = *reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    freeaddrinfo(found);
    sin.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0)
        return std::strerror(errno);
    SetNonBlocking(sock);
    int error = 0;
    if (connect(sock, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) != 0) {
        error = errno;
        if (error == EINPROGRESS && WaitSocket(sock, true, millis) == 1) {
            socklen_t len = sizeof error;
            if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                error = errno;
        } else if (error == EINPROGRESS) {
            error = 0;  // no answer yet: nothing known
        }
    }
    close(sock);
    return error != 0 ? std::strerror(error) : "";
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void SleepMillis(int millis)
{
    timespec ts{millis / 1000, static_cast<long>(millis % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

namespace {

void *RunBody(void *arg)
{
    auto *body = static_cast<std::function<void()> *>(arg);
    (*body)();
    delete body;
    return nullptr;
}

}  // namespace

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body)
{
    auto *copy = new std::function<void()>(std::move(body));
    auto *id = new pthread_t;
    if (pthread_create(id, nullptr, RunBody, copy) != 0) {
        delete copy;
        delete id;
        return false;
    }
    handle_ = id;
    return true;
}

void Thread::Join()
{
    if (handle_ == nullptr)
        return;
    auto *id = static_cast<pthread_t *>(handle_);
    pthread_join(*id, nullptr);
    delete id;
    handle_ = nullptr;
}

Mutex::Mutex() : impl_(new pthread_mutex_t) { pthread_mutex_init(static_cast<pthread_mutex_t *>(impl_), nullptr); }

Mutex::~Mutex()
{
    pthread_mutex_destroy(static_cast<pthread_mutex_t *>(impl_));
    delete static_cast<pthread_mutex_t *>(impl_);
}

void Mutex::Lock() { pthread_mutex_lock(static_cast<pthread_mutex_t *>(impl_)); }
void Mutex::Unlock() { pthread_mutex_unlock(static_cast<pthread_mutex_t *>(impl_)); }

// Waits are measured on the monotonic clock where the system lets a
// condition use it, so setting the date does not stretch them.
#if defined(__linux__)
constexpr clockid_t kWaitClock = CLOCK_MONOTONIC;
#else
constexpr clockid_t kWaitClock = CLOCK_REALTIME;
#endif

CondVar::CondVar() : impl_(new pthread_cond_t)
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
#if defined(__linux__)
    pthread_condattr_setclock(&attr, kWaitClock);
#endif
    pthread_cond_init(static_cast<pthread_cond_t *>(impl_), &attr);
    pthread_condattr_destroy(&attr);
}

CondVar::~CondVar()
{
    pthread_cond_destroy(static_cast<pthread_cond_t *>(impl_));
    delete static_cast<pthread_cond_t *>(impl_);
}

void CondVar::Wait(Mutex &held, int millis)
{
    timespec until{};
    clock_gettime(kWaitClock, &until);
    until.tv_sec += millis / 1000;
    until.tv_nsec += static_cast<long>(millis % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    pthread_cond_timedwait(static_cast<pthread_cond_t *>(impl_), static_cast<pthread_mutex_t *>(held.impl_), &until);
}

void CondVar::WakeAll() { pthread_cond_broadcast(static_cast<pthread_cond_t *>(impl_)); }

bool GetEnvVar(const char *name, std::string *value)
{
    const char *v = std::getenv(name);
    if (v == nullptr)
        return false;
    *value = v;
    return true;
}

bool SetEnvVar(const char *name, const char *value) { return setenv(name, value, 1) == 0; }

}  // namespace tranpak::tools::os
