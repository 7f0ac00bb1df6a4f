// The programs' part of the OS layer on Windows: signals, the system's
// words for an error, and the system calls of the server side of TCP and
// of the running program's path (the logic they serve is in
// server_common.cpp).
#include "os/os_programs.h"
#include "os/server_common.h"
#include "os/win32/common_win32.h"
#include "os/win32/system_text_win32.h"

#include <winsock2.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <io.h>

namespace tranpak::os {

const char *SystemText(unsigned long error, char *text, int size)
{
    if (text == nullptr || size <= 0)
        return text;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             static_cast<DWORD>(size), nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        --n;
    if (n > 0)
        text[n] = '\0';
    else
        std::snprintf(text, static_cast<size_t>(size), "Windows error %lu", error);
    return text;
}

void IgnoreBrokenPipe() {}

void OnStopRequest(void (*handler)(int))
{
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
    std::signal(SIGBREAK, handler);
}

void TellSocketError(int error, char *text, int size) { SystemText(static_cast<DWORD>(error), text, size); }

void ReuseAddress(int) {}

int BindAndListen(int sock, const unsigned char addr[4], int port, int backlog)
{
    const sockaddr_in sin = IPv4Address(addr, port);
    const SOCKET s = SocketOf(sock);
    if (bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 || listen(s, backlog) < 0)
        return -1;
    return 0;
}

int SockLocalPort(int sock)
{
    sockaddr_in sin{};
    int len = sizeof sin;
    if (getsockname(SocketOf(sock), reinterpret_cast<sockaddr *>(&sin), &len) < 0)
        return -1;
    return ntohs(sin.sin_port);
}

int SockAccept(int sock) { return HandleOf(accept(SocketOf(sock), nullptr, nullptr)); }

int SockAbort(int sock)
{
    linger hard{1, 0};
    setsockopt(SocketOf(sock), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard);
    return SockCloseHandle(sock);
}

int SockSetRecvTimeout(int sock, int millis)
{
    DWORD ms = static_cast<DWORD>(millis);
    return setsockopt(SocketOf(sock), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms) < 0 ? -1
                                                                                                                   : 0;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

int SystemProgramPath(char *path, int size)
{
    const DWORD n = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(size));
    if (n == 0 || n >= static_cast<DWORD>(size))
        return static_cast<int>(n);
    for (DWORD i = 0; i < n; ++i)
        if (path[i] == '\\')
            path[i] = '/';
    return static_cast<int>(n);
}

}  // namespace tranpak::os
