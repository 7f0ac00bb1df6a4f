// The OS layer: the only code of the project that knows which operating
// system it runs on, for the library and for its programs (the tools,
// tests, benchmarks and fuzz targets) alike. This header is the part the
// library uses: sockets, waiting, files, the profile reader, the
// environment, the clock, sleeping. It is heap-free and compiled into the
// library. os_programs.h adds what only programs need (server sockets,
// files below a served directory, threads, signals); that part may
// allocate and is never linked into the shared library.
// What is the same on every platform is written once, in the *_common.cpp
// files beside this one; each platform's files (posix/, win32/) hold only
// the system calls they stand on. CMake compiles exactly one platform. The library names this header
// "os/os.h"; programs name it "os.h", as a header of the kit.
#ifndef TRANPAK_OS_OS_H
#define TRANPAK_OS_OS_H

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <cstdint>

namespace tranpak::os {

// Socket handles are plain ints; -1 means "no socket" everywhere.
inline constexpr int kNoSocket = -1;

// Starts the sockets layer for the process, asking for version
// major.minor and accepting exactly that version: when the system agrees
// to another, the start is undone (WSACleanup) and it fails. 0 on
// success, -1 on failure. The library asks for Windows Sockets 1.1; a
// program may ask for 2.2. On POSIX there is nothing to start.
int SockStartup(int major, int minor);
// The library's own start of the sockets layer, once per process when it
// is loaded: SockStartup for Windows Sockets 1.1, exactly the version the
// library was written for. 0 when the sockets layer is ready, -1 when it
// cannot be started. Nothing to start on POSIX.
int SocketsStart();

// Converts a dotted IPv4 text as the C library's inet_addr does.
// 0 and the 4 address bytes (network order) on success, -1 when the text
// does not convert.
int ParseIPv4(const char *text, unsigned char addr[4]);

// Looks a host name up for an IPv4 address. 0 and the first address
// (network order) on success, -1 when the name has no IPv4 address.
int LookupHostByName(const char *name, unsigned char addr[4]);

// Creates a TCP socket. Returns the handle or kNoSocket (LastSocketError
// tells why).
int SockOpenTcp();

// Connects to addr:port (port taken modulo 65536, in host order).
// 0 on success, -1 on failure. When error is given, a failure leaves
// there the system's error number for it, as SockConnectIPv4Within does.
int SockConnectIPv4(int sock, const unsigned char addr[4], int port, int *error = nullptr);

// The system's error number of the calling thread's last failed socket
// call: errno, or the Windows Sockets error.
int LastSocketError();
// The system's words for a socket error number (of LastSocketError or of
// a connect), into out (always NUL-terminated when size > 0). Returns out.
const char *SocketErrorText(int error, char *out, int size);

// Connects as SockConnectIPv4 does, but gives up once millis (above 0)
// have passed: 0 connected, -1 failed, -2 the time passed first. The
// socket is blocking again afterwards. When error is given, a failure
// leaves there the system's error number for it (errno, or the Windows
// Sockets error), or 0 when the system named none.
inline constexpr int kTimedOut = -2;
int SockConnectIPv4Within(int sock, const unsigned char addr[4], int port, int millis, int *error = nullptr);

// Waits at most millis until the socket can be read (forWrite false: data
// or the peer's close is there) or written. 1 ready, 0 not yet (the time
// passed, or a signal came), -1 on an error.
int WaitSocket(int sock, bool forWrite, int millis);

// Switches a socket to calls that never wait (on), or back to calls that
// wait, as every socket starts (off). 0 on success, -1 on failure.
int SetNonBlocking(int sock, bool on = true);

// What a call that does not wait answers when nothing can move now, for
// sockets and files alike.
inline constexpr int kNotNow = -3;

// One send or receive that does not wait: the bytes moved, 0 when the
// peer has closed (receive), kNotNow when nothing can move now, -1 on an
// error. A call interrupted by a signal is retried; a send never raises
// SIGPIPE. On POSIX they never wait on any socket; on Windows only on one
// switched with SetNonBlocking.
int SendNow(int sock, const void *bytes, int count);
int RecvNow(int sock, void *bytes, int count);
// SendNow on a socket left blocking: the call never waits, and the socket
// stays blocking (Windows switches it for the call).
int SendNowOnBlocking(int sock, const void *bytes, int count);

// A millisecond tick for measuring time limits. It wraps after about 49
// days, so only differences of two ticks mean anything.
uint32_t TickMillis();

// One send or receive call. Returns the number of bytes moved, 0 when the
// peer has closed (receive) or nothing was taken (send), -1 on an error.
// A call interrupted by a signal is retried; a send to a peer that has
// gone fails with -1 and never raises SIGPIPE.
int SockSendSome(int sock, const void *bytes, int count);
int SockRecvSome(int sock, void *bytes, int count);
// A receive that leaves the bytes in the socket: a copy of what has come,
// up to count bytes, waiting as SockRecvSome does until something has.
int SockPeekSome(int sock, void *bytes, int count);

// Closes a socket. 0 on success, -1 on failure.
int SockCloseHandle(int sock);

// Reads a value from a profile (.ini) file the way Windows'
// GetPrivateProfileStringA does: section and key matched without regard to
// case, blanks around keys and values dropped, a value in matching quotes
// unquoted, the default when file, section or key is missing, at most
// size-1 characters returned (always NUL-terminated when size > 0).
// Returns the number of characters copied.
int ReadProfileString(const char *section, const char *key, const char *fallback, char *out, int size,
                      const char *file);
// Looks through the keys of the first section of that name, matched as
// ReadProfileString matches it, for one that is none of the count names
// at known (compared without regard to ASCII case). Returns 1 with the
// first such key in out (at most size-1 characters, NUL-terminated), 0
// when every key is known or the file or section is missing.
int FindProfileKeyOutside(const char *section, const char *const *known, int count, char *out, int size,
                          const char *file);

// One value that ReadProfile reads: section and key, the fallback, and
// where the value goes (at most size-1 characters, as ReadProfileString).
struct ProfileKey {
    const char *section;
    const char *key;
    const char *fallback;
    char *out;
    int size;
};
// A section whose keys ReadProfile checks against a list, as
// FindProfileKeyOutside does: found is set to 1 with the first key that is
// none of the count names at known in out (at most size-1 characters), to
// 0 with out empty when there is none.
struct ProfileStray {
    const char *section;
    const char *const *known;
    int count;
    char *out;
    int size;
    int found;
    // Another section checked in the same pass, or nullptr; a chain of at
    // most kMostProfileStrays.
    ProfileStray *next;
};
inline constexpr int kMostProfileStrays = 4;
// The most keys one ReadProfile takes.
inline constexpr int kMostProfileKeys = 24;
// Reads the file once for every key of keys, each as ReadProfileString
// reads it alone (on Windows by GetPrivateProfileStringA, which reads the
// file itself), and, when stray is not nullptr, looks through its section
// as FindProfileKeyOutside does. Returns 0, or -1 with nothing written
// when count is above kMostProfileKeys.
int ReadProfile(const char *file, const ProfileKey *keys, int count, ProfileStray *stray);

// Reads an environment variable of the process into out (NUL-terminated).
// Returns its length; 0 when it is unset or empty; -1 when it does not fit
// size - 1 characters (out is then empty).
int ReadEnvVar(const char *name, char *out, int size);
// Sets an environment variable of the process (tests and the client use
// it to point the library at a settings file). 0 on success, -1 on failure.
int SetEnvVar(const char *name, const char *value);

// Local files: what a transfer reads or writes, and the files the library
// reads its settings and definitions from.
enum PathKind { kPathAbsent, kPathRegular, kPathDirectory, kPathOther };
// What the path names, links followed: nothing, a regular file, a
// directory, or something else (a device, a pipe, a socket).
PathKind LocalPathKind(const char *path);
// Whether the file at path can be opened for reading: 1 it can, 0 it does
// not exist (no such file, or a folder on the way is missing), -1 it exists
// or cannot be examined (no permission on the way, a name too long) and
// cannot be opened, with the reason in *error as ErrorText takes it.
// Opening never waits.
int ProbeReadable(const char *path, int *error);
// A regular file read as text, line by line, through a descriptor and a
// fixed buffer: the settings and the definition file are read without the
// C library's buffered streams, which allocate.
inline constexpr int kLineFileBufSize = 4096;
struct LineFile {
    int fd;
    int pos;  // next byte of buf to hand out
    int end;  // bytes of buf read so far
    char buf[kLineFileBufSize];
};
// Opens the file at path for reading as text (where the platform has a
// text mode: CR LF read as LF); only a regular file is opened, and opening
// never waits, not even on a pipe that has no writer. 0 on success, -1
// when it cannot be opened or is no regular file.
int LineFileOpen(LineFile &f, const char *path);
// The next piece of text as fgets gives it: at most size-1 bytes, up to and
// including the first line feed, NUL-terminated. Returns the bytes read, a
// NUL byte of the file counted (strlen would stop there); 0 at the end of
// the file or on a read error, when nothing was read.
int LineFileGets(LineFile &f, char *out, int size);
void LineFileClose(LineFile &f);
// The descriptor calls under LineFile, also for programs' files: bytes
// read (0 at the end of the file, -1 on an error), and the close.
int ReadBytes(int fd, void *bytes, int count);
void CloseFile(int fd);
// 1 when the existing file at path may be opened for writing by this
// process (nothing is changed), else 0.
int CanWriteFile(const char *path);
// The path with its last component's symbolic links followed, also when
// the last one leads nowhere yet, so a file can be created or replaced
// where the link leads; the path itself when it is no link. Links in the
// folders on the way are left to the system. 0 on success, -1 when the
// result does not fit size - 1 characters or the links go round.
int FollowLinks(const char *path, char *out, int size);
// Length of the folder part of a path, its last separator included (0 when
// the path names a file in the current folder).
int FolderPartLength(const char *path);
// Creates a file that does not exist yet, for writing bytes unchanged;
// nullptr when it exists or cannot be made. Where the platform has file
// modes, the file gets those of `like` when that is an existing file.
std::FILE *CreateNewFile(const char *path, const char *like);
// Puts the file `from` in place of `to`, replacing a file that is there.
// 0 on success, -1 on failure (then both are as they were).
int PutInPlace(const char *from, const char *to);
// 1 when the last component of path is no longer than the file system of
// its folder takes for a name, so a file of that name can be made there as
// far as its length goes; 0 when it is longer. 1 too when the folder cannot
// be examined: creating the file then tells.
int NameFits(const char *path);

// Local files of a transfer that has a time limit. Opening never waits,
// not even on a pipe that has no writer or no reader yet, and afterwards
// only FileWait waits. forWrite opens as the C runtime's "w+b" does
// (created, emptied, read and write), else as "rb". nullptr when it
// cannot be opened (errno tells).
std::FILE *OpenNoWait(const char *path, bool forWrite);
// Waits at most millis until the file can be read (forWrite false: bytes,
// its end or an error are there) or written. 1 ready, 0 not yet (the time
// passed, or a signal came), -1 on an error. Where the platform cannot
// tell, it is always ready and the next read or write may wait.
int FileWait(std::FILE *f, bool forWrite, int millis);
// One read or write on a file of OpenNoWait (or one the C runtime never
// buffered bytes of), without waiting where the platform allows: the
// bytes moved, 0 at the file's end (reading), kNotNow when nothing can
// move now, -1 on an error (errno tells).
int FileReadNow(std::FILE *f, void *bytes, int count);
int FileWriteNow(std::FILE *f, const void *bytes, int count);

// The system's text for an error number, into out (always NUL-terminated),
// without any buffer shared between threads. Returns out.
inline constexpr int kErrorTextSize = 128;
const char *ErrorText(int error, char *out, int size);
// Pauses the calling thread for the given number of milliseconds.
void SleepMillis(int millis);

// The local time of t into *out, without any buffer shared between
// threads. 0 on success, -1 when the time cannot be converted (*out is
// left as it was).
int LocalTime(std::time_t t, std::tm *out);

// The AES instructions of x86 processors (AES-NI). A build carries code
// for them where the compiler is GCC or Clang and the target x86-64 or
// i686 (TRANPAK_X86_AES is then 1); elsewhere it is 0 and AES always takes
// the library's portable path.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#  define TRANPAK_X86_AES 1
#else
#  define TRANPAK_X86_AES 0
#endif
// True when this build carries that code and the processor it runs on has
// the instructions (CPUID leaf 1: ECX bit 25, and SSE2). The answer is read
// from what the compiler's runtime found once when the program was loaded,
// so asking costs a load, not a CPUID (which a virtual machine may trap,
// at tens of microseconds).
bool CpuHasAesInstructions();

// Fills count bytes at out with the system's cryptographic randomness
// (getrandom, or /dev/urandom where the call is missing; RtlGenRandom on
// Windows), for the random fill of PIN blocks. 0 when all count bytes came,
// -1 when the system gave none or too few (out is then zeroed).
int RandomBytes(void *out, int count);

// Largest text AppendText writes in one piece.
inline constexpr int kAppendTextMax = 16384;
// Appends count bytes of text to the file at path, creating it, in one
// write of the whole (up to kAppendTextMax bytes), so texts appended by
// threads and processes at once never interleave. On Windows each line
// feed is written as CR LF, as the C runtime's text mode writes it.
// It never waits on a file that cannot take the text at once (on POSIX a
// pipe without a reader, or a full one): the text is then not written.
// 0 when it was written, -1 when the file cannot be opened or written.
int AppendText(const char *path, const char *text, int count);

}  // namespace tranpak::os

#endif
