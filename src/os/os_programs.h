// The part of the OS layer that only programs use (the tools, and the
// tests, benchmarks and fuzz targets that play a host): signals, the
// server side of TCP, files opened only below a served directory, threads.
// It may allocate, and is compiled into the static library tranpak_os,
// never into the shared library. Everything of os.h is here too: the
// sockets, waits, files, environment and sleeping that the library uses
// are the programs' as well. One implementation per platform (posix/,
// win32/). Programs name it "os_programs.h", as a header of the kit.
#ifndef TRANPAK_OS_OS_PROGRAMS_H
#define TRANPAK_OS_OS_PROGRAMS_H

#include "os.h"

#include <functional>
#include <string>

namespace tranpak::os {

// Writing to a closed pipe fails with an error instead of ending the
// process (POSIX); nothing to do on Windows.
void IgnoreBrokenPipe();
// Calls handler on Ctrl-C and on a request to terminate.
void OnStopRequest(void (*handler)(int));

// Server side: a listening TCP socket on the IPv4 address text (port 0
// picks a free one; backlog bounds the connections waiting to be
// accepted), its port, and accept. Handles are plain ints, -1 for none;
// a failed SockListen says why in *why when given ("not an IPv4 address"
// or the system's words, such as "Address already in use").
int SockListen(const char *address, int port, int backlog = 16, std::string *why = nullptr);
int SockLocalPort(int sock);
int SockAccept(int sock);
// Closes a socket so that the peer sees a reset instead of an orderly end.
int SockAbort(int sock);
// Receive time limit in milliseconds for a socket (0: none).
int SockSetRecvTimeout(int sock, int millis);

// Why a TCP connection to host:port cannot be made, in the system's words
// ("Connection refused"), from an attempt of its own that waits at most
// millis; "" when it connects, or when nothing is known in that time.
std::string ConnectProblem(const std::string &host, int port, int millis);

// Files. Paths use '/' between components on every platform. ReadBytes
// and CloseFile are in os.h.
bool WriteBytes(int fd, const void *bytes, int count);
// Pushes the file to the disk and closes it; false when either fails.
bool SyncAndClose(int fd);
// A number that differs between processes, for temporary names.
long ProcessId();
// Whether this process holds the file at path open (the same file, not
// only the same name): 1 yes, 0 no (or no such file), -1 cannot tell
// (Windows). Tells a process's own temporary file from another's of the
// same form.
int HeldOpenHere(const std::string &path);

// Why a path below a served directory was not opened.
enum class Refused {
    kNone,
    kMissing,               // the last component is not there
    kMissingOnTheWay,       // a directory on the way is not there, or a link there leads nowhere
    kNotDirectoryOnTheWay,  // a component on the way is a file
    kDirectory,
    kNotRegular,            // a pipe, socket or device
    kLink,                  // a link, where links are not followed
    kLinkOutside,           // a link leads outside the served directory
    kLinkNowhere,           // a link inside leads to nothing
    kLinkLoop,              // too many links in a row
    kSystem,                // anything else: the system's own words in *detail
};

class PendingStore;

// A directory opened once, and the files below it opened from that handle
// by a relative path ('/' between components, none empty, "." or ".."),
// so that renaming or swapping anything on the way while a request is
// served cannot lead outside:
// - Linux with openat2: the kernel resolves the whole path beneath the
//   directory (RESOLVE_BENEATH); a link that stays inside is followed,
//   one that leads outside (or is absolute) is refused.
// - Other POSIX systems, Linux kernels before 5.6 (or a sandbox that
//   denies openat2): one component at a time from the directory's
//   descriptor with O_NOFOLLOW; every link is refused.
// - Windows: every directory from the served one down is opened without
//   following reparse points and held, without delete sharing, while the
//   file below is opened, created or replaced by its path, so none of them
//   can be renamed or replaced meanwhile; every reparse point is refused.
//   The served directory's own path is taken once, at Open.
class ServedDir {
public:
    // kWalk never uses openat2, so that both ways can be tried on one system.
    enum class Lookup { kBest, kWalk };
    ServedDir();
    ServedDir(const ServedDir &) = delete;
    ServedDir &operator=(const ServedDir &) = delete;
    ~ServedDir();
    // False when path is not a directory that can be opened. Which way
    // paths are looked up is decided here, once.
    bool Open(const std::string &path, Lookup lookup = Lookup::kBest);
    // True when links that stay inside are followed (openat2).
    bool FollowsLinksInside() const;
    // Opens an existing regular file for reading; opening a pipe never
    // blocks. A descriptor, or -1 with *refused (and *detail for kSystem).
    int OpenForRead(const std::string &relative, Refused *refused, std::string *detail) const;
    // Starts a store to relative, an existing regular file or a new name
    // in an existing directory: a new temporary file beside it, unique
    // across threads and processes, to be written through store->Fd().
    // With openat2 a link as last component is resolved beneath the
    // directory and its target is replaced. False with *refused otherwise.
    bool StoreBegin(const std::string &relative, PendingStore *store, Refused *refused, std::string *detail) const;

    struct Impl;

private:
    Impl *impl_;
};

// A store between StoreBegin and its end, holding the directory it goes
// to. Destroying one that was neither committed nor abandoned abandons it.
class PendingStore {
public:
    PendingStore() = default;
    PendingStore(const PendingStore &) = delete;
    PendingStore &operator=(const PendingStore &) = delete;
    ~PendingStore() { Abandon(); }
    // The temporary file, or -1 when no store is pending or it is closed.
    int Fd() const { return fd_; }
    // Pushes the temporary file to the disk and closes it.
    bool SyncAndClose()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && os::SyncAndClose(fd);
    }
    // Puts the temporary file in place of the target in one step.
    bool Commit();
    // Closes and removes the temporary file; the target stays as it was.
    void Abandon();

    struct Impl;

private:
    friend class ServedDir;
    Impl *impl_ = nullptr;
    int fd_ = -1;
};

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
    friend class CondVar;
    void *impl_;
};

// Waits on a Mutex the caller holds until woken or millis pass (then it
// holds it again); wakes may come without a Wake, so callers look again.
class CondVar {
public:
    CondVar();
    CondVar(const CondVar &) = delete;
    CondVar &operator=(const CondVar &) = delete;
    ~CondVar();
    void Wait(Mutex &held, int millis);
    void WakeAll();

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

}  // namespace tranpak::os

#endif
