// The programs' part of the OS layer on POSIX systems: signals, and the
// system calls of the server side of TCP and of the running program's
// path (the logic they serve is in server_common.cpp).
#include "os/os_programs.h"
#include "os/posix/common_posix.h"
#include "os/server_common.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tranpak::os {

void TellSocketError(int error, char *text, int size)
{
    if (text != nullptr && size > 0)
        ErrorText(error, text, size);
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

void OnStopRequest(void (*handler)(int))
{
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocked call returns to look at the flag
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void ReuseAddress(int sock)
{
    int one = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

int BindAndListen(int sock, const unsigned char addr[4], int port, int backlog)
{
    const sockaddr_in sin = IPv4Address(addr, port);
    if (bind(sock, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 || listen(sock, backlog) < 0)
        return -1;
    return 0;
}

int SockLocalPort(int sock)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getsockname(sock, reinterpret_cast<sockaddr *>(&sin), &len) < 0)
        return -1;
    return ntohs(sin.sin_port);
}

int SockAccept(int sock)
{
    const int s = RetryOnSignal([&] { return accept(sock, nullptr, nullptr); });
    return s < 0 ? -1 : s;
}

int SockAbort(int sock)
{
    linger hard{1, 0};
    setsockopt(sock, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    return SockCloseHandle(sock);
}

int SockSetRecvTimeout(int sock, int millis)
{
    timeval tv{};
    tv.tv_sec = millis / 1000;
    tv.tv_usec = (millis % 1000) * 1000;
    return setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) < 0 ? -1 : 0;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

// Linux names it in /proc; other systems do not tell here.
int SystemProgramPath(char *path, int size)
{
    return static_cast<int>(readlink("/proc/self/exe", path, static_cast<size_t>(size)));
}

}  // namespace tranpak::os
