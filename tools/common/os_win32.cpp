// The tools' operating system calls on Windows.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleA
#endif
#include "os.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <vector>

namespace tranpak::tools::os {
namespace {

SOCKET Handle(int sock) { return static_cast<SOCKET>(static_cast<unsigned int>(sock)); }

int FromSocket(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

bool IsLinkAttribute(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// The system's words for an error code, without the closing ".\r\n".
std::string SystemText(DWORD error)
{
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        --n;
    return n > 0 ? std::string(text, n) : "Windows error " + std::to_string(error);
}

}  // namespace

void IgnoreBrokenPipe() {}

void OnStopRequest(void (*handler)(int))
{
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
    std::signal(SIGBREAK, handler);
}

int SockStartup()
{
    WSADATA wsa;
    return WSAStartup(MAKEWORD(2, 2), &wsa) == 0 ? 0 : -1;
}

int SockListen(const char *address, int port, int backlog, std::string *why)
{
    unsigned long a = inet_addr(address);
    // inet_addr answers INADDR_NONE for errors and for the broadcast
    // address alike; only the latter's literal text is that address.
    if (a == INADDR_NONE && std::strcmp(address, "255.255.255.255") != 0) {
        if (why != nullptr)
            *why = "not an IPv4 address";
        return -1;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        if (why != nullptr)
            *why = SystemText(static_cast<DWORD>(WSAGetLastError()));
        return -1;
    }
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    sin.sin_addr.s_addr = a;
    if (bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 || listen(s, backlog) < 0) {
        if (why != nullptr)
            *why = SystemText(static_cast<DWORD>(WSAGetLastError()));
        closesocket(s);
        return -1;
    }
    return FromSocket(s);
}

int SockLocalPort(int sock)
{
    sockaddr_in sin{};
    int len = sizeof sin;
    if (getsockname(Handle(sock), reinterpret_cast<sockaddr *>(&sin), &len) < 0)
        return -1;
    return ntohs(sin.sin_port);
}

int SockAccept(int sock) { return FromSocket(accept(Handle(sock), nullptr, nullptr)); }

int SockPeekSome(int sock, void *bytes, int count)
{
    int n = recv(Handle(sock), static_cast<char *>(bytes), count, MSG_PEEK);
    return n < 0 ? -1 : n;
}

int SockAbort(int sock)
{
    linger hard{1, 0};
    setsockopt(Handle(sock), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard);
    return closesocket(Handle(sock)) < 0 ? -1 : 0;
}

int SockSetRecvTimeout(int sock, int millis)
{
    DWORD ms = static_cast<DWORD>(millis);
    return setsockopt(Handle(sock), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms) < 0
               ? -1
               : 0;
}

int SockClose(int sock) { return closesocket(Handle(sock)) < 0 ? -1 : 0; }

int SetNonBlocking(int sock)
{
    u_long on = 1;
    return ioctlsocket(Handle(sock), FIONBIO, &on) == 0 ? 0 : -1;
}

int WaitSocket(int sock, bool forWrite, int millis)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Handle(sock), &set);
    timeval tv{millis / 1000, (millis % 1000) * 1000};
    int rc = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
    return rc < 0 ? -1 : rc == 0 ? 0 : 1;
}

int RecvNow(int sock, void *bytes, int count)
{
    int n = recv(Handle(sock), static_cast<char *>(bytes), count, 0);
    if (n == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
    return n;
}

int SendNow(int sock, const void *bytes, int count)
{
    int n = send(Handle(sock), static_cast<const char *>(bytes), count, 0);
    if (n == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
    return n;
}

int ReadBytes(int fd, void *bytes, int count) { return _read(fd, bytes, static_cast<unsigned>(count)); }

bool WriteBytes(int fd, const void *bytes, int count)
{
    const char *p = static_cast<const char *>(bytes);
    while (count > 0) {
        int n = _write(fd, p, static_cast<unsigned>(count));
        if (n <= 0)
            return false;
        p += n;
        count -= n;
    }
    return true;
}

bool SyncAndClose(int fd)
{
    bool synced = _commit(fd) == 0;
    return _close(fd) == 0 && synced;
}

void CloseFile(int fd) { _close(fd); }

// ---- files below a served directory ----

namespace {

// Held handles leave out FILE_SHARE_DELETE: while one is open, nobody can
// rename, move or remove the directory it names.
constexpr DWORD kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE OpenHeldDirectory(const std::string &path, bool followReparsePoint)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followReparsePoint ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kHeldShare, nullptr, OPEN_EXISTING, flags, nullptr);
}

DWORD AttributesOf(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

Refused SystemRefusal(DWORD error, std::string *detail)
{
    *detail = SystemText(error);
    return Refused::kSystem;
}

// What the entry at path itself is, when opening it failed with error.
Refused EntryRefusal(const std::string &path, DWORD error, std::string *detail)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return IsMissing(error) ? Refused::kMissing : SystemRefusal(error, detail);
    if (IsLinkAttribute(a))
        return Refused::kLink;
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Refused::kDirectory : SystemRefusal(error, detail);
}

// What stands in the way of a store to path: nothing when it is missing or
// a plain file.
Refused TargetRefusal(const std::string &path, std::string *detail)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return IsMissing(error) ? Refused::kNone : SystemRefusal(error, detail);
    }
    if (IsLinkAttribute(a))
        return Refused::kLink;
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Refused::kDirectory : Refused::kNone;
}

void Release(std::vector<HANDLE> *way)
{
    for (HANDLE h : *way)
        CloseHandle(h);
    way->clear();
}

// Holds every directory of parent (a relative path, "" for root itself)
// from the top down; on a refusal holds none.
bool HoldWay(const std::string &root, const std::string &parent, std::vector<HANDLE> *way, Refused *refused,
             std::string *detail)
{
    std::string path = root;
    size_t start = 0;
    while (start < parent.size()) {
        size_t slash = parent.find('/', start);
        if (slash == std::string::npos)
            slash = parent.size();
        path += "/" + parent.substr(start, slash - start);
        start = slash + 1;
        HANDLE h = OpenHeldDirectory(path, false);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            *refused = IsMissing(error) ? Refused::kMissingOnTheWay : SystemRefusal(error, detail);
            Release(way);
            return false;
        }
        way->push_back(h);
        const DWORD a = AttributesOf(h);
        if (a != INVALID_FILE_ATTRIBUTES && !IsLinkAttribute(a) && (a & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        *refused = a == INVALID_FILE_ATTRIBUTES ? SystemRefusal(GetLastError(), detail)
                   : IsLinkAttribute(a)         ? Refused::kLink
                                                : Refused::kNotDirectoryOnTheWay;
        Release(way);
        return false;
    }
    return true;
}

std::string ParentOf(const std::string &relative)
{
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? "" : relative.substr(0, slash);
}

}  // namespace

struct ServedDir::Impl {
    HANDLE root = INVALID_HANDLE_VALUE;
    std::string path;  // the served directory's final path, '/' between components
};

struct PendingStore::Impl {
    std::vector<HANDLE> way;
    std::string temporary, target;  // full paths
};

ServedDir::ServedDir() : impl_(new Impl) {}

ServedDir::~ServedDir()
{
    if (impl_->root != INVALID_HANDLE_VALUE)
        CloseHandle(impl_->root);
    delete impl_;
}

bool ServedDir::Open(const std::string &path, Lookup)
{
    HANDLE h = OpenHeldDirectory(path, true);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buf[MAX_PATH * 4];
    const DWORD n = GetFinalPathNameByHandleA(h, buf, sizeof buf, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const DWORD a = AttributesOf(h);
    if (n == 0 || n >= sizeof buf || a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(h);
        return false;
    }
    std::string s(buf, n);
    if (s.rfind("\\\\?\\", 0) == 0)
        s.erase(0, 4);
    for (char &c : s)
        if (c == '\\')
            c = '/';
    if (impl_->root != INVALID_HANDLE_VALUE)
        CloseHandle(impl_->root);
    impl_->root = h;
    impl_->path = s;
    return true;
}

bool ServedDir::FollowsLinksInside() const { return false; }

int ServedDir::OpenForRead(const std::string &relative, Refused *refused, std::string *detail) const
{
    std::vector<HANDLE> way;
    if (!HoldWay(impl_->path, ParentOf(relative), &way, refused, detail))
        return -1;
    const std::string path = impl_->path + "/" + relative;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        *refused = EntryRefusal(path, GetLastError(), detail);
    Release(&way);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    const DWORD a = AttributesOf(h);
    const bool disk = GetFileType(h) == FILE_TYPE_DISK && a != INVALID_FILE_ATTRIBUTES;
    if (!disk || (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        *refused = !disk ? Refused::kNotRegular : IsLinkAttribute(a) ? Refused::kLink : Refused::kDirectory;
        CloseHandle(h);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        *refused = SystemRefusal(GetLastError(), detail);
        CloseHandle(h);
        return -1;
    }
    *refused = Refused::kNone;
    return fd;
}

bool ServedDir::StoreBegin(const std::string &relative, PendingStore *store, Refused *refused,
                           std::string *detail) const
{
    static std::atomic<long> temporaries{0};
    std::vector<HANDLE> way;
    if (!HoldWay(impl_->path, ParentOf(relative), &way, refused, detail))
        return false;
    const std::string target = impl_->path + "/" + relative;
    *refused = TargetRefusal(target, detail);
    if (*refused != Refused::kNone) {
        Release(&way);
        return false;
    }
    // Short and of its own form whatever the target's name, so that a
    // path near the system's limit still leaves room for it.
    const std::string parent = ParentOf(relative);
    const std::string temporary = impl_->path + "/" + (parent.empty() ? "" : parent + "/") + ".tranpak-" +
                                  std::to_string(ProcessId()) + "-" + std::to_string(++temporaries) + ".tmp";
    HANDLE h = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const int fd = h == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        *refused = SystemRefusal(GetLastError(), detail);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            DeleteFileA(temporary.c_str());
        }
        Release(&way);
        return false;
    }
    store->Abandon();
    store->impl_ = new PendingStore::Impl{way, temporary, target};
    store->fd_ = fd;
    return true;
}

bool PendingStore::Commit()
{
    if (impl_ == nullptr || fd_ >= 0 || impl_->temporary.empty())
        return false;
    if (MoveFileExA(impl_->temporary.c_str(), impl_->target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
        0)
        return false;
    impl_->temporary.clear();
    return true;
}

void PendingStore::Abandon()
{
    if (impl_ == nullptr)
        return;
    if (fd_ >= 0)
        _close(fd_);
    fd_ = -1;
    if (!impl_->temporary.empty())
        DeleteFileA(impl_->temporary.c_str());
    Release(&impl_->way);
    delete impl_;
    impl_ = nullptr;
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

// The system lists no process's open files to it; a file another process
// holds and one this process holds look alike from outside.
int HeldOpenHere(const std::string &) { return -1; }

std::string ConnectProblem(const std::string &host, int port, int millis)
{
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return "";
    sockaddr_in sin = *reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    freeaddrinfo(found);
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return SystemText(static_cast<DWORD>(WSAGetLastError()));
    const int sock = FromSocket(s);
    SetNonBlocking(sock);
    int error = 0;
    if (connect(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            // A refused connection shows in the exception set, not as
            // writable.
            fd_set done, failed;
            FD_ZERO(&done);
            FD_SET(s, &done);
            FD_ZERO(&failed);
            FD_SET(s, &failed);
            timeval tv{millis / 1000, (millis % 1000) * 1000};
            error = 0;
            if (select(0, nullptr, &done, &failed, &tv) > 0 && FD_ISSET(s, &failed)) {
                int len = sizeof error;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &len);
            }
        }
    }
    closesocket(s);
    return error != 0 ? SystemText(static_cast<DWORD>(error)) : "";
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void SleepMillis(int millis) { Sleep(static_cast<DWORD>(millis)); }

namespace {

DWORD WINAPI RunBody(LPVOID arg)
{
    auto *body = static_cast<std::function<void()> *>(arg);
    (*body)();
    delete body;
    return 0;
}

}  // namespace

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body)
{
    auto *copy = new std::function<void()>(std::move(body));
    HANDLE h = CreateThread(nullptr, 0, RunBody, copy, 0, nullptr);
    if (h == nullptr) {
        delete copy;
        return false;
    }
    handle_ = h;
    return true;
}

void Thread::Join()
{
    if (handle_ == nullptr)
        return;
    WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

Mutex::Mutex() : impl_(new CRITICAL_SECTION) { InitializeCriticalSection(static_cast<CRITICAL_SECTION *>(impl_)); }

Mutex::~Mutex()
{
    DeleteCriticalSection(static_cast<CRITICAL_SECTION *>(impl_));
    delete static_cast<CRITICAL_SECTION *>(impl_);
}

void Mutex::Lock() { EnterCriticalSection(static_cast<CRITICAL_SECTION *>(impl_)); }
void Mutex::Unlock() { LeaveCriticalSection(static_cast<CRITICAL_SECTION *>(impl_)); }

CondVar::CondVar() : impl_(new CONDITION_VARIABLE) { InitializeConditionVariable(static_cast<CONDITION_VARIABLE *>(impl_)); }

CondVar::~CondVar() { delete static_cast<CONDITION_VARIABLE *>(impl_); }

void CondVar::Wait(Mutex &held, int millis)
{
    SleepConditionVariableCS(static_cast<CONDITION_VARIABLE *>(impl_), static_cast<CRITICAL_SECTION *>(held.impl_),
                             static_cast<DWORD>(millis));
}

void CondVar::WakeAll() { WakeAllConditionVariable(static_cast<CONDITION_VARIABLE *>(impl_)); }

bool GetEnvVar(const char *name, std::string *value)
{
    DWORD n = GetEnvironmentVariableA(name, nullptr, 0);
    if (n == 0)
        return false;
    std::string v(n, '\0');
    n = GetEnvironmentVariableA(name, v.data(), n);
    v.resize(n);
    *value = v;
    return true;
}

bool SetEnvVar(const char *name, const char *value) { return SetEnvironmentVariableA(name, value) != 0; }

}  // namespace tranpak::tools::os
