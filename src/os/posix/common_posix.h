// What the POSIX files of the OS layer share: the one retry of a call that
// a signal interrupted, the one wait on a descriptor, the one way a call
// that may not wait says "not now", and the one socket address.
#ifndef TRANPAK_OS_POSIX_COMMON_POSIX_H
#define TRANPAK_OS_POSIX_COMMON_POSIX_H

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/types.h>

namespace tranpak::os {

// Calls call() until it succeeds or fails for another reason than EINTR
// (a signal came before it did anything); returns what the last call
// returned.
template <typename Call>
auto RetryOnSignal(Call call)
{
    auto rc = call();
    while (rc < 0 && errno == EINTR)
        rc = call();
    return rc;
}

// Waits at most millis until the descriptor can be read (forWrite false)
// or written: 1 ready (an error or hang-up too: the next call tells
// which), 0 not yet (the time passed, or a signal came), -1 on an error.
int PollOne(int fd, bool forWrite, int millis);

// The result of a read, write, send or receive that may not wait: the
// bytes moved, kNotNow where it would have waited, -1 on another error.
int NotNowOr(ssize_t n);

// The IPv4 socket address of addr:port (port taken modulo 65536, in host
// order).
inline sockaddr_in IPv4Address(const unsigned char addr[4], int port)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<unsigned short>(port & 0xFFFF));
    std::memcpy(&sin.sin_addr, addr, 4);
    return sin;
}

}  // namespace tranpak::os

#endif
