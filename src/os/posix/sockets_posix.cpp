// POSIX sockets of the library (Linux and other Unix systems): the client
// side, waiting, and the calls that do not wait.
#include "os/os.h"
#include "os/posix/common_posix.h"
#include "os/sockets_common.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <ctime>
#include <unistd.h>

#ifndef MSG_NOSIGNAL
#  define MSG_NOSIGNAL 0  // systems without it use SO_NOSIGPIPE, set at creation
#endif

namespace tranpak::os {

// Nothing to start: the version asked for is the one there.
int SystemSocketsStart(int major, int minor, int *gotMajor, int *gotMinor)
{
    *gotMajor = major;
    *gotMinor = minor;
    return 0;
}

void SystemSocketsStop() {}

uint32_t SystemInetAddr(const char *text) { return inet_addr(text); }

int LookupHostByName(const char *name, unsigned char addr[4])
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return -1;
    const auto *sin = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    std::memcpy(addr, &sin->sin_addr, 4);
    freeaddrinfo(found);
    return 0;
}

int SockOpenTcp()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
#if defined(SO_NOSIGPIPE)
    if (s >= 0) {
        int one = 1;
        setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
    }
#endif
    return s < 0 ? kNoSocket : s;
}

int SystemConnect(int sock, const unsigned char addr[4], int port)
{
    const sockaddr_in sin = IPv4Address(addr, port);
    return RetryOnSignal([&] { return connect(sock, reinterpret_cast<const sockaddr *>(&sin), sizeof sin); });
}

int LastSocketError() { return errno; }

const char *SocketErrorText(int error, char *out, int size) { return ErrorText(error, out, size); }

int SystemConnectWithin(int sock, const unsigned char addr[4], int port, int millis, int *failure)
{
    const sockaddr_in sin = IPv4Address(addr, port);
    if (connect(sock, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) == 0)
        return 0;
    // A connection interrupted by a signal goes on in the background,
    // like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) {
        *failure = errno;
        return -1;
    }
    const uint32_t start = TickMillis();
    for (;;) {
        int left = millis - static_cast<int>(TickMillis() - start);
        if (left <= 0)
            return kTimedOut;
        int ready = WaitSocket(sock, true, left);
        if (ready < 0)
            return -1;
        if (ready > 0) {
            socklen_t len = sizeof *failure;
            if (getsockopt(sock, SOL_SOCKET, SO_ERROR, failure, &len) < 0)
                *failure = errno;
            return *failure != 0 ? -1 : 0;
        }
    }
}

int PollOne(int fd, bool forWrite, int millis)
{
    pollfd p{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int rc = poll(&p, 1, millis);
    if (rc < 0)
        return errno == EINTR ? 0 : -1;
    return rc > 0 ? 1 : 0;
}

int NotNowOr(ssize_t n)
{
    if (n < 0)
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? kNotNow : -1;
    return static_cast<int>(n);
}

int WaitSocket(int sock, bool forWrite, int millis)
{
    if (sock < 0)
        return -1;  // poll would skip it and wait the whole time
    return PollOne(sock, forWrite, millis);
}

int SetNonBlocking(int sock, bool on)
{
    const int flags = fcntl(sock, F_GETFL);
    if (flags < 0)
        return -1;
    return fcntl(sock, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) < 0 ? -1 : 0;
}

int SendNow(int sock, const void *bytes, int count)
{
    return NotNowOr(
        RetryOnSignal([&] { return send(sock, bytes, static_cast<size_t>(count), MSG_NOSIGNAL | MSG_DONTWAIT); }));
}

int RecvNow(int sock, void *bytes, int count)
{
    return NotNowOr(RetryOnSignal([&] { return recv(sock, bytes, static_cast<size_t>(count), MSG_DONTWAIT); }));
}

// MSG_DONTWAIT holds for the one call whatever the socket's mode.
int SendNowOnBlocking(int sock, const void *bytes, int count) { return SendNow(sock, bytes, count); }

uint32_t TickMillis()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

int SockSendSome(int sock, const void *bytes, int count)
{
    const ssize_t n = RetryOnSignal([&] { return send(sock, bytes, static_cast<size_t>(count), MSG_NOSIGNAL); });
    return n < 0 ? -1 : static_cast<int>(n);
}

int SockRecvSome(int sock, void *bytes, int count)
{
    const ssize_t n = RetryOnSignal([&] { return recv(sock, bytes, static_cast<size_t>(count), 0); });
    return n < 0 ? -1 : static_cast<int>(n);
}

int SockPeekSome(int sock, void *bytes, int count)
{
    const ssize_t n = RetryOnSignal([&] { return recv(sock, bytes, static_cast<size_t>(count), MSG_PEEK); });
    return n < 0 ? -1 : static_cast<int>(n);
}

int SockCloseHandle(int sock) { return close(sock) < 0 ? -1 : 0; }

}  // namespace tranpak::os
