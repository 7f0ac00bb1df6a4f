// The part of the OS layer that only programs use (the tools, and the
// tests, benchmarks and fuzz targets that play a host): signals, the
// server side of TCP, files opened only below a served directory, threads.
// Like the rest of src/, it takes nothing from the heap: texts go out
// through the caller's buffers, paths come in as C strings and are built
// in fixed buffers (a path that does not fit is refused, never cut), and
// the system's objects sit inside the objects that own them. It is
// compiled into the static library tranpak_os, never into the shared
// library. Everything of os.h is here too: the sockets, waits, files,
// environment and sleeping that the library uses are the programs' as
// well. One implementation per platform (posix/, win32/). Programs name
// it "os_programs.h", as a header of the kit.
#ifndef TRANPAK_OS_OS_PROGRAMS_H
#define TRANPAK_OS_OS_PROGRAMS_H

#include "os.h"

#include <cstddef>

namespace tranpak::os {

// Room for the system's words for an error ("Address already in use"),
// the closing NUL included; longer words are cut there.
inline constexpr int kSystemTextSize = 256;

// Writing to a closed pipe fails with an error instead of ending the
// process (POSIX); nothing to do on Windows.
void IgnoreBrokenPipe();
// Calls handler on Ctrl-C and on a request to terminate.
void OnStopRequest(void (*handler)(int));

// Server side: a listening TCP socket on the IPv4 address text (port 0
// picks a free one; backlog bounds the connections waiting to be
// accepted), its port, and accept. Handles are plain ints, -1 for none;
// a failed SockListen says why in why (whySize bytes, kSystemTextSize is
// enough) when given: "not an IPv4 address" or the system's words, such
// as "Address already in use".
int SockListen(const char *address, int port, int backlog = 16, char *why = nullptr, int whySize = 0);
int SockLocalPort(int sock);
int SockAccept(int sock);
// Closes a socket so that the peer sees a reset instead of an orderly end.
int SockAbort(int sock);
// Receive time limit in milliseconds for a socket (0: none).
int SockSetRecvTimeout(int sock, int millis);

// Why a TCP connection to host:port cannot be made, in the system's words
// ("Connection refused"), from an attempt of its own that waits at most
// millis; "" when it connects, or when nothing is known in that time.
// Written into text (size bytes, kSystemTextSize is enough); returns text.
const char *ConnectProblem(const char *host, int port, int millis, char *text, int size);

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
int HeldOpenHere(const char *path);

// Why a path below a served directory was not opened.
enum class Refused {
    kNone,
    kMissing,               // the last component is not there
    kMissingOnTheWay,       // a directory on the way is not there, or a link there leads nowhere
    kNotDirectoryOnTheWay,  // a component on the way is a file
    kDirectory,
    kNotRegular,   // a pipe, socket or device
    kLink,         // a link, where links are not followed
    kLinkOutside,  // a link leads outside the served directory
    kLinkNowhere,  // a link inside leads to nothing
    kLinkLoop,     // too many links in a row
    kSystem,       // anything else: the system's own words in detail, or kPathTooLong / kPathTooDeep
};

// Room for the detail of a kSystem refusal, the closing NUL included.
inline constexpr int kRefusalDetailSize = kSystemTextSize;
// The detail of a path that does not fit the buffers it is built in (the
// served directory's path, the request, a link's target, a temporary name
// beside the target): such a path is refused whole, never cut.
inline constexpr char kPathTooLong[] = "path too long";
// The detail of a request with more directories on the way than are held
// while the file below is opened (Windows; see kMostHeldDirectories).
inline constexpr char kPathTooDeep[] = "path too deep";
// Directories held at once on the way to a file (Windows). The host's
// requests have at most 200 characters, so at most 100 directories.
inline constexpr int kMostHeldDirectories = 100;

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
//   can be renamed or replaced meanwhile; every reparse point is refused,
//   and so is whatever does not lie below the served directory by its
//   final path (a POSIX link seen through Wine carries no reparse point).
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
    bool Open(const char *path, Lookup lookup = Lookup::kBest);
    // True when links that stay inside are followed (openat2).
    bool FollowsLinksInside() const;
    // Opens an existing regular file for reading; opening a pipe never
    // blocks. A descriptor, or -1 with *refused (and, for kSystem, the
    // detail in detail, of detailSize bytes: kRefusalDetailSize is enough).
    int OpenForRead(const char *relative, Refused *refused, char *detail, int detailSize) const;
    // Starts a store to relative, an existing regular file or a new name
    // in an existing directory: a new temporary file beside it, unique
    // across threads and processes, to be written through store->Fd().
    // With openat2 a link as last component is resolved beneath the
    // directory and its target is replaced. False with *refused (and
    // detail as for OpenForRead) otherwise.
    bool StoreBegin(const char *relative, PendingStore *store, Refused *refused, char *detail, int detailSize) const;

    struct Impl;
    // Room for either platform's Impl (Windows keeps the served
    // directory's final path in it); each platform's file checks that its
    // own fits.
    static constexpr std::size_t kImplSize = 1152;

private:
    Impl &State() const;
    alignas(8) unsigned char impl_[kImplSize];
};

// A store between StoreBegin and its end, holding the directory it goes
// to. Destroying one that was neither committed nor abandoned abandons it.
class PendingStore {
public:
    PendingStore();
    PendingStore(const PendingStore &) = delete;
    PendingStore &operator=(const PendingStore &) = delete;
    ~PendingStore();
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
    // Room for either platform's Impl (Windows holds the directories on
    // the way and two full paths in it); each platform's file checks that
    // its own fits.
    static constexpr std::size_t kImplSize = 3072;

private:
    friend class ServedDir;
    Impl &State() const;
    bool pending_ = false;  // an Impl was made by StoreBegin and not yet abandoned
    int fd_ = -1;
    alignas(8) unsigned char impl_[kImplSize];
};

// Standard error goes to a terminal (not a file or a pipe), so a line
// rewritten in place with "\r" shows as one line.
bool StderrIsTerminal();

// Room for the running program's own path, the closing NUL included.
inline constexpr int kProgramPathSize = 4096;
// The running program's own file, as an absolute path ('/' between
// components on every platform), into path (size bytes; kProgramPathSize
// is enough). False, with path empty, when the system does not tell or the
// path does not fit. Lets a program find the files installed beside it.
bool ProgramPath(char *path, int size);

// Threads and a lock, for the tools that serve or load many connections
// at once. (The Windows packages are built with a compiler whose C++
// library has no std::thread or std::mutex, so these come from the system.)
// Start runs body(arg) on a new thread: false when none can be made (or
// one started is not joined yet). Whatever arg points to is the caller's,
// and must live until the thread ends. Join waits for it to end; the
// destructor joins a thread not joined yet.
class Thread {
public:
    Thread() = default;
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;
    ~Thread();
    bool Start(void (*body)(void *arg), void *arg);
    void Join();
    bool Joinable() const { return started_; }

    // Room for the system's handle of a thread (pthread_t, HANDLE); each
    // platform's file checks that it fits.
    static constexpr std::size_t kHandleSize = 16;

private:
    friend struct ThreadEntry;  // what a started thread runs first (threads_common.h)
    void (*body_)(void *) = nullptr;
    void *arg_ = nullptr;
    bool started_ = false;
    alignas(8) unsigned char handle_[kHandleSize] = {};
};

// Room for the system's lock and condition (pthread_mutex_t and
// pthread_cond_t, CRITICAL_SECTION and CONDITION_VARIABLE, on 32- and
// 64-bit systems); each platform's file checks that they fit.
inline constexpr std::size_t kMutexSize = 64;
inline constexpr std::size_t kCondVarSize = 64;

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
    alignas(8) unsigned char impl_[kMutexSize];
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
    alignas(8) unsigned char impl_[kCondVarSize];
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
