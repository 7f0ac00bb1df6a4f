// The programs' part of the OS layer on Windows: signals, the server side
// of TCP, and why a connection cannot be made.
#include "os/os_programs.h"
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

int SockListen(const char *address, int port, int backlog, char *why, int whySize)
{
    unsigned char addr[4];
    if (ParseIPv4(address, addr) != 0) {
        if (why != nullptr && whySize > 0)
            std::snprintf(why, static_cast<size_t>(whySize), "%s", "not an IPv4 address");
        return -1;
    }
    const int sock = SockOpenTcp();
    if (sock == kNoSocket) {
        SystemText(static_cast<DWORD>(WSAGetLastError()), why, whySize);
        return -1;
    }
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    std::memcpy(&sin.sin_addr, addr, 4);
    const SOCKET s = SocketOf(sock);
    if (bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 || listen(s, backlog) < 0) {
        SystemText(static_cast<DWORD>(WSAGetLastError()), why, whySize);
        SockCloseHandle(sock);
        return -1;
    }
    return sock;
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
    return setsockopt(SocketOf(sock), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms) < 0
               ? -1
               : 0;
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
    if (sock == kNoSocket)
        return SystemText(static_cast<DWORD>(WSAGetLastError()), text, size);
    // No answer in that time is nothing known: error stays 0.
    int error = 0;
    SockConnectIPv4Within(sock, addr, port, millis, &error);
    SockCloseHandle(sock);
    if (error != 0)
        SystemText(static_cast<DWORD>(error), text, size);
    return text;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

bool ProgramPath(char *path, int size)
{
    if (path == nullptr || size <= 0)
        return false;
    path[0] = '\0';
    const DWORD n = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(size));
    if (n == 0 || n >= static_cast<DWORD>(size)) {
        path[0] = '\0';
        return false;
    }
    for (DWORD i = 0; i < n; ++i)
        if (path[i] == '\\')
            path[i] = '/';
    return true;
}

}  // namespace tranpak::os
