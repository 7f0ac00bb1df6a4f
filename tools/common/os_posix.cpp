// The tools' operating system calls on POSIX systems.
#include "os.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <arpa/inet.h>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

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

int SockListen(const char *address, int port, int backlog)
{
    in_addr_t a = inet_addr(address);
    // inet_addr answers INADDR_NONE for errors and for the broadcast
    // address alike; only the latter's literal text is that address.
    if (a == INADDR_NONE && std::strcmp(address, "255.255.255.255") != 0)
        return -1;
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return -1;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<unsigned short>(port & 0xFFFF));
    sin.sin_addr.s_addr = a;
    if (bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 || listen(s, backlog) < 0) {
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

Kind EntryKind(const std::string &path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return Kind::kMissing;
    if (S_ISLNK(st.st_mode))
        return Kind::kLink;
    if (S_ISDIR(st.st_mode))
        return Kind::kDirectory;
    return S_ISREG(st.st_mode) ? Kind::kFile : Kind::kOther;
}

bool RealPath(const std::string &path, std::string *real)
{
    char *resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return false;
    *real = resolved;
    std::free(resolved);
    return true;
}

int OpenRegularForRead(const std::string &path, std::string *why)
{
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP ? "a symbolic link" : errno == ENOENT ? "no such file" : std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = S_ISDIR(st.st_mode) ? "a directory" : "not a regular file (a pipe, socket or device)";
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK);
    return fd;
}

int CreateNewFile(const std::string &path, std::string *why)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        *why = std::strerror(errno);
    return fd;
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

bool PutInPlace(const std::string &from, const std::string &to) { return rename(from.c_str(), to.c_str()) == 0; }

void RemoveFile(const std::string &path) { unlink(path.c_str()); }

long ProcessId() { return static_cast<long>(getpid()); }

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
