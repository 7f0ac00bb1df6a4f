// What the tools (and the tests that play a host) need from the operating
// system, kept apart from the library's own platform layer: the server
// side of TCP, waiting on sockets with a time limit, files opened without
// following links, replacing a file in one step, signals, the environment.
// One implementation per platform (os_posix.cpp, os_win32.cpp); CMake
// compiles exactly one into the static library tranpak_toolos.
#ifndef TRANPAK_TOOLS_OS_H
#define TRANPAK_TOOLS_OS_H

#include <functional>
#include <string>

namespace tranpak::tools::os {

// Writing to a closed pipe fails with an error instead of ending the
// process (POSIX); nothing to do on Windows.
void IgnoreBrokenPipe();
// Calls handler on Ctrl-C and on a request to terminate.
void OnStopRequest(void (*handler)(int));

// Starts the sockets layer for the process (Windows Sockets 2.2; nothing
// on POSIX). 0 on success, -1 on failure.
int SockStartup();

// Server side: a listening TCP socket on the IPv4 address text (port 0
// picks a free one; backlog bounds the connections waiting to be
// accepted), its port, and accept. Handles are plain ints, -1 for none.
int SockListen(const char *address, int port, int backlog = 16);
int SockLocalPort(int sock);
int SockAccept(int sock);
// Looks at up to count received bytes without taking them.
int SockPeekSome(int sock, void *bytes, int count);
// Closes a socket so that the peer sees a reset instead of an orderly end.
int SockAbort(int sock);
// Receive time limit in milliseconds for a socket (0: none).
int SockSetRecvTimeout(int sock, int millis);
// Closes a socket in the ordinary way.
int SockClose(int sock);

// Sockets. A socket made non-blocking never holds the caller; WaitSocket
// says when it can go on.
int SetNonBlocking(int sock);
// 1 when the socket can be read (or written), 0 when millis passed, -1 on
// an error.
int WaitSocket(int sock, bool forWrite, int millis);
inline constexpr int kWouldBlock = -2;
// One receive or send: bytes moved, 0 when the peer closed (receive),
// -1 on an error, kWouldBlock when nothing can move now.
int RecvNow(int sock, void *bytes, int count);
int SendNow(int sock, const void *bytes, int count);

// Files. Paths use '/' between components on every platform.
enum class Kind { kMissing, kFile, kDirectory, kLink, kOther };
// What the path itself is (a link is not followed).
Kind EntryKind(const std::string &path);
// The absolute path with every link resolved; false when a component is
// missing or a link leads nowhere.
bool RealPath(const std::string &path, std::string *real);
// Opens an existing regular file for reading, refusing (with *why) a link
// in its last component, a directory, a pipe or a device; opening a pipe
// never blocks. A descriptor, or -1.
int OpenRegularForRead(const std::string &path, std::string *why);
// Creates a new file for writing that did not exist and is not a link.
int CreateNewFile(const std::string &path, std::string *why);
// Bytes read (0 at the end), or -1.
int ReadBytes(int fd, void *bytes, int count);
bool WriteBytes(int fd, const void *bytes, int count);
// Pushes the file to the disk and closes it; false when either fails.
bool SyncAndClose(int fd);
void CloseFile(int fd);
// Puts from in place of to in one step (to may exist).
bool PutInPlace(const std::string &from, const std::string &to);
void RemoveFile(const std::string &path);
// A number that differs between processes, for temporary names.
long ProcessId();

// Pauses the calling thread.
void SleepMillis(int millis);

// Standard error goes to a terminal (not a file or a pipe), so a line
// rewritten in place with "\r" shows as one line.
bool StderrIsTerminal();

// Threads and a lock, for the tools that serve or load many connections
// at once. (The Windows packages are built with a compiler whose C++
// library has no std::thread or std::mutex, so these come from the system.)
// Start runs body on a new thread: false when none can be made. Join waits
// for it to end; a Thread must be joined before it is destroyed.
class Thread {
public:
    Thread() = default;
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;
    ~Thread();
    bool Start(std::function<void()> body);
    void Join();
    bool Joinable() const { return handle_ != nullptr; }

private:
    void *handle_ = nullptr;
};

class Mutex {
public:
    Mutex();
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;
    ~Mutex();
    void Lock();
    void Unlock();

private:
    void *impl_;
};

class LockGuard {
public:
    explicit LockGuard(Mutex &m) : m_(m) { m_.Lock(); }
    ~LockGuard() { m_.Unlock(); }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;

private:
    Mutex &m_;
};

// The process environment: a variable's value into *value (false when it
// is unset), and setting one. SetEnvVar is false when it cannot be set.
bool GetEnvVar(const char *name, std::string *value);
bool SetEnvVar(const char *name, const char *value);

}  // namespace tranpak::tools::os

#endif
