// Windows sockets of the library: the client side, waiting, and the calls
// that do not wait. Every call here is one of Windows Sockets 1.1, so the
// library imports WSOCK32.dll alone; programs link them too.
#include "os/os.h"
#include "os/win32/common_win32.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace tranpak::os {
int SockStartup(int major, int minor)
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(major, minor), &wsa) != 0)
        return -1;
    // Only the version asked for will do (the library speaks 1.1 and
    // nothing else).
    if (LOBYTE(wsa.wVersion) != major || HIBYTE(wsa.wVersion) != minor) {
        WSACleanup();
        return -1;
    }
    return 0;
}

int ParseIPv4(const char *text, unsigned char addr[4])
{
    unsigned long a = inet_addr(text);
    if (a == INADDR_NONE && std::strcmp(text, "255.255.255.255") != 0)
        return -1;
    std::memcpy(addr, &a, 4);
    return 0;
}

int LookupHostByName(const char *name, unsigned char addr[4])
{
    const hostent *h = gethostbyname(name);
    if (h == nullptr || h->h_addrtype != AF_INET || h->h_length != 4 || h->h_addr_list[0] == nullptr)
        return -1;
    std::memcpy(addr, h->h_addr_list[0], 4);
    return 0;
}

int SockOpenTcp() { return HandleOf(socket(AF_INET, SOCK_STREAM, 0)); }

int SockConnectIPv4(int sock, const unsigned char addr[4], int port, int *error)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    std::memcpy(&sin.sin_addr, addr, 4);
    const int rc = connect(SocketOf(sock), reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 ? -1 : 0;
    if (error != nullptr)
        *error = rc < 0 ? WSAGetLastError() : 0;
    return rc;
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

int SockConnectIPv4Within(int sock, const unsigned char addr[4], int port, int millis, int *error)
{
    int failure = 0;
    if (error != nullptr)
        *error = 0;
    if (SetNonBlocking(sock, true) != 0)
        return -1;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    std::memcpy(&sin.sin_addr, addr, 4);
    int rc = 0;
    SOCKET s = SocketOf(sock);
    if (connect(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0) {
        failure = WSAGetLastError();
        if (failure != WSAEWOULDBLOCK) {
            rc = -1;
        } else {
            failure = 0;
            // Writable: connected. In the exception set: refused.
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval tv = ToTimeval(millis);
            int ready = select(0, nullptr, &writable, &failed, &tv);
            if (ready == 0) {
                rc = kTimedOut;
            } else if (ready < 0 || FD_ISSET(s, &failed) || !FD_ISSET(s, &writable)) {
                rc = -1;
                int len = sizeof failure;
                if (ready > 0 && FD_ISSET(s, &failed))
                    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&failure), &len);
            }
        }
    }
    SetNonBlocking(sock, false);
    if (error != nullptr)
        *error = rc == -1 ? failure : 0;
    return rc;
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
