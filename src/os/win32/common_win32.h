// What the Windows files of the OS layer share: the layer's socket handles
// are plain ints, Windows' are SOCKETs.
#ifndef TRANPAK_OS_WIN32_COMMON_WIN32_H
#define TRANPAK_OS_WIN32_COMMON_WIN32_H

#include "os/os.h"

#include <winsock2.h>

namespace tranpak::os {

inline SOCKET SocketOf(int sock) { return static_cast<SOCKET>(static_cast<unsigned int>(sock)); }

inline int HandleOf(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<int>(s); }

}  // namespace tranpak::os

#endif
