// The tools' operating system calls on Windows.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleA
#endif
#include "os.h"

#include <winsock2.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace tranpak::tools::os {
namespace {

SOCKET Handle(int sock) { return static_cast<SOCKET>(static_cast<unsigned int>(sock)); }

int FromSocket(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

bool IsLinkAttribute(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

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

int SockListen(const char *address, int port, int backlog)
{
    unsigned long a = inet_addr(address);
    // inet_addr answers INADDR_NONE for errors and for the broadcast
    // address alike; only the latter's literal text is that address.
    if (a == INADDR_NONE && std::strcmp(address, "255.255.255.255") != 0)
        return -1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return -1;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    sin.sin_addr.s_addr = a;
    if (bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 || listen(s, backlog) < 0) {
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

Kind EntryKind(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return Kind::kMissing;
    if (IsLinkAttribute(a))
        return Kind::kLink;
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::kDirectory : Kind::kFile;
}

bool RealPath(const std::string &path, std::string *real)
{
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buf[MAX_PATH * 4];
    DWORD n = GetFinalPathNameByHandleA(h, buf, sizeof buf, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    if (n == 0 || n >= sizeof buf)
        return false;
    std::string s(buf, n);
    if (s.rfind("\\\\?\\", 0) == 0)
        s.erase(0, 4);
    for (char &c : s)
        if (c == '\\')
            c = '/';
    *real = s;
    return true;
}

int OpenRegularForRead(const std::string &path, std::string *why)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *why = GetLastError() == ERROR_FILE_NOT_FOUND ? "no such file" : "cannot be opened";
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        *why = "not a regular file (a link, directory, pipe or device)";
        CloseHandle(h);
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(h);
    return fd;
}

int CreateNewFile(const std::string &path, std::string *why)
{
    int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        *why = "cannot create it";
    return fd;
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

bool PutInPlace(const std::string &from, const std::string &to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveFile(const std::string &path) { DeleteFileA(path.c_str()); }

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

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
