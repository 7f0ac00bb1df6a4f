// The sockets' logic that is the same on every platform; each platform's
// sockets file (posix/, win32/) gives the system calls it stands on
// (sockets_common.h) and the calls that are nothing but one system call.
#include "os/sockets_common.h"

#include "os/os.h"

#include <cstring>

namespace tranpak::os {
namespace {

// The version of Windows Sockets the library was written for, and asks for
// at load time: 1.1, exactly.
constexpr int kLibrarySocketsMajor = 1;
constexpr int kLibrarySocketsMinor = 1;

}  // namespace

int SockStartup(int major, int minor)
{
    int gotMajor = 0, gotMinor = 0;
    if (SystemSocketsStart(major, minor, &gotMajor, &gotMinor) != 0)
        return -1;
    // Only the version asked for will do (the library speaks 1.1 and
    // nothing else).
    if (gotMajor != major || gotMinor != minor) {
        SystemSocketsStop();
        return -1;
    }
    return 0;
}

int SocketsStart() { return SockStartup(kLibrarySocketsMajor, kLibrarySocketsMinor); }

int ParseIPv4(const char *text, unsigned char addr[4])
{
    const uint32_t a = SystemInetAddr(text);
    // inet_addr answers all ones both for errors and for the broadcast
    // address itself; only the literal text of the latter is accepted.
    if (a == kInetAddrNone && std::strcmp(text, "255.255.255.255") != 0)
        return -1;
    std::memcpy(addr, &a, 4);
    return 0;
}

int SockConnectIPv4(int sock, const unsigned char addr[4], int port, int *error)
{
    const int rc = SystemConnect(sock, addr, port);
    if (error != nullptr)
        *error = rc < 0 ? LastSocketError() : 0;
    return rc < 0 ? -1 : 0;
}

int SockConnectIPv4Within(int sock, const unsigned char addr[4], int port, int millis, int *error)
{
    if (error != nullptr)
        *error = 0;
    if (SetNonBlocking(sock, true) != 0)
        return -1;
    int failure = 0;
    const int rc = SystemConnectWithin(sock, addr, port, millis, &failure);
    SetNonBlocking(sock, false);
    if (error != nullptr)
        *error = rc == -1 ? failure : 0;
    return rc;
}

}  // namespace tranpak::os
