// The programs' server sockets and the running program's path: the logic
// that is the same on every platform. Each platform's server file
// (posix/, win32/) gives the system calls it stands on (server_common.h).
#include "os/server_common.h"

#include "os/os_programs.h"

#include <cstdio>

namespace tranpak::os {

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
        TellSocketError(LastSocketError(), why, whySize);
        return -1;
    }
    ReuseAddress(sock);
    if (BindAndListen(sock, addr, port, backlog) != 0) {
        TellSocketError(LastSocketError(), why, whySize);
        SockCloseHandle(sock);
        return -1;
    }
    return sock;
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
        TellSocketError(LastSocketError(), text, size);
        return text;
    }
    // No answer in that time is nothing known: error stays 0.
    int error = 0;
    SockConnectIPv4Within(sock, addr, port, millis, &error);
    SockCloseHandle(sock);
    if (error != 0)
        TellSocketError(error, text, size);
    return text;
}

bool ProgramPath(char *path, int size)
{
    if (path == nullptr || size <= 0)
        return false;
    path[0] = '\0';
    const int n = SystemProgramPath(path, size);
    if (n <= 0 || n >= size) {
        path[0] = '\0';
        return false;
    }
    path[n] = '\0';
    return true;
}

}  // namespace tranpak::os
