// Windows sockets of the library: the client side, waiting, and the calls
// that do not wait. Every call here is one of Windows Sockets 1.1, so the
// library imports WSOCK32.dll alone; programs link them too.
#include "os/os.h"
#include "os/sockets_common.h"
#include "os/win32/common_win32.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace tranpak::os {

int SystemSocketsStart(int major, int minor, int *gotMajor, int *gotMinor)
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(major, minor), &wsa) != 0)
        return -1;
    *gotMajor = LOBYTE(wsa.wVersion);
    *gotMinor = HIBYTE(wsa.wVersion);
    return 0;
}

void SystemSocketsStop() { WSACleanup(); }

uint32_t SystemInetAddr(const char *text) { return static_cast<uint32_t>(inet_addr(text)); }

int LookupHostByName(const char *name, unsigned char addr[4])
{
    const hostent *h = gethostbyname(name);
    if (h == nullptr || h->h_addrtype != AF_INET || h->h_length != 4 || h->h_addr_list[0] == nullptr)
        return -1;
    std::memcpy(addr, h->h_addr_list[0], 4);
    return 0;
}

int SockOpenTcp() { return HandleOf(socket(AF_INET, SOCK_STREAM, 0)); }

int SystemConnect(int sock, const unsigned char addr[4], int port)
{
    const sockaddr_in sin = IPv4Address(addr, port);
    return connect(SocketOf(sock), reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 ? -1 : 0;
}

int LastSocketError() { return WSAGetLastError(); }

const char *SocketErrorText(int error, char *out, int size)
{
    if (out == nullptr || size <= 0)
        return out;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, out, static_cast<DWORD>(size), nullptr);
    // Without the closing ".\r\n" the system adds.
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == '.'))
        --n;
    if (n > 0)
        out[n] = '\0';
    else
        std::snprintf(out, static_cast<size_t>(size), "Windows Sockets error %d", error);
    return out;
}

int SetNonBlocking(int sock, bool on)
{
    u_long mode = on ? 1 : 0;
    return ioctlsocket(SocketOf(sock), FIONBIO, &mode) == 0 ? 0 : -1;
}

namespace {

timeval ToTimeval(int millis)
{
    timeval tv{};
    tv.tv_sec = millis / 1000;
    tv.tv_usec = (millis % 1000) * 1000;
    return tv;
}

}  // namespace

int SystemConnectWithin(int sock, const unsigned char addr[4], int port, int millis, int *failure)
{
    const sockaddr_in sin = IPv4Address(addr, port);
    SOCKET s = SocketOf(sock);
    if (connect(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) >= 0)
        return 0;
    *failure = WSAGetLastError();
    if (*failure != WSAEWOULDBLOCK)
        return -1;
    *failure = 0;
    // Writable: connected. In the exception set: refused.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv = ToTimeval(millis);
    int ready = select(0, nullptr, &writable, &failed, &tv);
    if (ready == 0)
        return kTimedOut;
    if (ready < 0 || FD_ISSET(s, &failed) || !FD_ISSET(s, &writable)) {
        int len = sizeof *failure;
        if (ready > 0 && FD_ISSET(s, &failed))
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(failure), &len);
        return -1;
    }
    return 0;
}

int WaitSocket(int sock, bool forWrite, int millis)
{
    SOCKET s = SocketOf(sock);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = ToTimeval(millis);
    int rc = forWrite ? select(0, nullptr, &set, nullptr, &tv) : select(0, &set, nullptr, nullptr, &tv);
    if (rc < 0)
        return -1;
    return rc > 0 ? 1 : 0;
}

namespace {

// The result of a send or receive that may not wait: kNotNow where it
// would have waited.
int NotNowOr(int n) { return n != SOCKET_ERROR ? n : WSAGetLastError() == WSAEWOULDBLOCK ? kNotNow : -1; }

}  // namespace

int SendNow(int sock, const void *bytes, int count)
{
    return NotNowOr(send(SocketOf(sock), static_cast<const char *>(bytes), count, 0));
}

int RecvNow(int sock, void *bytes, int count)
{
    return NotNowOr(recv(SocketOf(sock), static_cast<char *>(bytes), count, 0));
}

// Windows Sockets 1.1 has no flag for a single call that does not wait:
// the socket is switched to non-blocking around it and back again.
int SendNowOnBlocking(int sock, const void *bytes, int count)
{
    if (SetNonBlocking(sock, true) != 0)
        return -1;
    const int n = SendNow(sock, bytes, count);
    SetNonBlocking(sock, false);
    return n;
}

uint32_t TickMillis() { return static_cast<uint32_t>(GetTickCount()); }

int SockSendSome(int sock, const void *bytes, int count)
{
    int n = send(SocketOf(sock), static_cast<const char *>(bytes), count, 0);
    return n < 0 ? -1 : n;
}

int SockRecvSome(int sock, void *bytes, int count)
{
    int n = recv(SocketOf(sock), static_cast<char *>(bytes), count, 0);
    return n < 0 ? -1 : n;
}

int SockPeekSome(int sock, void *bytes, int count)
{
    int n = recv(SocketOf(sock), static_cast<char *>(bytes), count, MSG_PEEK);
    return n < 0 ? -1 : n;
}

int SockCloseHandle(int sock) { return closesocket(SocketOf(sock)) < 0 ? -1 : 0; }

}  // namespace tranpak::os
