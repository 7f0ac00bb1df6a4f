// What the sockets' common logic (sockets_common.cpp) asks of each
// platform's sockets file: the bare system calls, nothing decided.
#ifndef TRANPAK_OS_SOCKETS_COMMON_H
#define TRANPAK_OS_SOCKETS_COMMON_H

#include <cstdint>

namespace tranpak::os {

// Starts the system's sockets layer asking for version major.minor: 0 with
// the version the system agreed to in *gotMajor and *gotMinor, -1 when it
// cannot start. Where nothing is to be started, the version asked for.
int SystemSocketsStart(int major, int minor, int *gotMajor, int *gotMinor);
// Undoes one SystemSocketsStart.
void SystemSocketsStop();

// The C library's inet_addr of text: the address in network order, the
// all-ones word both for an error and for the broadcast address itself.
uint32_t SystemInetAddr(const char *text);
inline constexpr uint32_t kInetAddrNone = 0xFFFFFFFFu;

// One connect to addr:port (port taken modulo 65536, in host order) on a
// blocking socket: 0 connected, -1 failed (LastSocketError tells why).
int SystemConnect(int sock, const unsigned char addr[4], int port);

// Starts a connect on a socket switched to calls that never wait, and
// waits at most millis for its end: 0 connected, -1 failed (with the
// system's error number in *failure, or 0 when it named none), kTimedOut
// when the time passed first.
int SystemConnectWithin(int sock, const unsigned char addr[4], int port, int millis, int *failure);

}  // namespace tranpak::os

#endif
