// The programs' part of the OS layer on POSIX systems: signals, the server
// side of TCP, and why a connection cannot be made.
#include "os/os_programs.h"
#include "os/posix/common_posix.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tranpak::os {
namespace {

// The system's words for an error number into text, when there is one.
void Tell(int error, char *text, int size)
{
    if (text != nullptr && size > 0)
        ErrorText(error, text, size);
}

}  // namespace

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

int SockListen(const char *address, int port, int backlog, char *why, int whySize)
{
    unsigned char addr[4];
    if (ParseIPv4(address, addr) != 0) {
        if (why != nullptr && whySize > 0)
            std::snprintf(why, static_cast<size_t>(whySize), "%s", "not an IPv4 address");
        return -1;
    }
    const int s = SockOpenTcp();
    if (s == kNoSocket) {
        Tell(errno, why, whySize);
        return -1;
    }
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<unsigned short>(port & 0xFFFF));
    std::memcpy(&sin.sin_addr, addr, 4);
    if (bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 || listen(s, backlog) < 0) {
        Tell(errno, why, whySize);
        SockCloseHandle(s);
        return -1;
    }
    return s;
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

const char *ConnectProblem(const char *host, int port, int millis, char *text, int size)
{
    if (size <= 0)
        return text;
    text[0] = '\0';
    unsigned char addr[4];
    if (LookupHostByName(host, addr) != 0)
        return text;
    const int sock = SockOpenTcp();
    if (sock == kNoSocket) {
        Tell(errno, text, size);
        return text;
    }
    // No answer in that time is nothing known: error stays 0.
    int error = 0;
    SockConnectIPv4Within(sock, addr, port, millis, &error);
    SockCloseHandle(sock);
    if (error != 0)
        Tell(error, text, size);
    return text;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool ProgramPath(char *path, int size)
{
    if (path == nullptr || size <= 0)
        return false;
    path[0] = '\0';
    // Linux names it in /proc; other systems do not tell here.
    const ssize_t n = readlink("/proc/self/exe", path, static_cast<size_t>(size));
    if (n <= 0 || n >= size) {
        path[0] = '\0';
        return false;
    }
    path[n] = '\0';
    return true;
}

}  // namespace tranpak::os
