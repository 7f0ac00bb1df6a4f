// What the Windows files of the OS layer share: the layer's socket handles
// are plain ints, Windows' are SOCKETs; the one socket address.
#ifndef TRANPAK_OS_WIN32_COMMON_WIN32_H
#define TRANPAK_OS_WIN32_COMMON_WIN32_H

#include "os/os.h"

#include <winsock2.h>

#include <cstring>

namespace tranpak::os {

inline SOCKET SocketOf(int sock) { return static_cast<SOCKET>(static_cast<unsigned int>(sock)); }

inline int HandleOf(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<int>(s); }

// The IPv4 socket address of addr:port (port taken modulo 65536, in host
// order).
inline sockaddr_in IPv4Address(const unsigned char addr[4], int port)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    std::memcpy(&sin.sin_addr, addr, 4);
    return sin;
}

}  // namespace tranpak::os

#endif
