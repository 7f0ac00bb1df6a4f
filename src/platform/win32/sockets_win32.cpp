// Windows Sockets 1.1 for the platform layer (WSOCK32.dll).
#include "platform/platform.h"

#include <winsock2.h>
#include <windows.h>

#include <cstring>

namespace tranpak::plat {
namespace {

int ToHandle(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<int>(s); }

SOCKET FromHandle(int sock) { return static_cast<SOCKET>(static_cast<unsigned int>(sock)); }

}  // namespace

int SockStartup()
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0)
        return -1;
    // The library speaks Windows Sockets 1.1 and nothing else.
    if (LOBYTE(wsa.wVersion) != 1 || HIBYTE(wsa.wVersion) != 1) {
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

int SockOpenTcp() { return ToHandle(socket(AF_INET, SOCK_STREAM, 0)); }

int SockConnectIPv4(int sock, const unsigned char addr[4], int port)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    std::memcpy(&sin.sin_addr, addr, 4);
    return connect(FromHandle(sock), reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0 ? -1 : 0;
}

namespace {

// Windows Sockets 1.1 has no flag for a single non-waiting call: the
// socket is switched to non-blocking mode around it and back again.
int SetNonBlocking(int sock, bool on)
{
    u_long mode = on ? 1 : 0;
    return ioctlsocket(FromHandle(sock), FIONBIO, &mode) == 0 ? 0 : -1;
}

timeval ToTimeval(int millis)
{
    timeval tv{};
    tv.tv_sec = millis / 1000;
    tv.tv_usec = (millis % 1000) * 1000;
    return tv;
}

}  // namespace

int SockConnectIPv4Within(int sock, const unsigned char addr[4], int port, int millis)
{
    if (SetNonBlocking(sock, true) != 0)
        return -1;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    std::memcpy(&sin.sin_addr, addr, 4);
    int rc = 0;
    SOCKET s = FromHandle(sock);
    if (connect(s, reinterpret_cast<const sockaddr *>(&sin), sizeof sin) < 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            rc = -1;
        } else {
            // Writable: connected. In the exception set: refused.
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval tv = ToTimeval(millis);
            int ready = select(0, nullptr, &writable, &failed, &tv);
            if (ready == 0)
                rc = kTimedOut;
            else if (ready < 0 || FD_ISSET(s, &failed) || !FD_ISSET(s, &writable))
                rc = -1;
        }
    }
    SetNonBlocking(sock, false);
    return rc;
}

int SockWait(int sock, bool forWrite, int millis)
{
    SOCKET s = FromHandle(sock);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = ToTimeval(millis);
    int rc = forWrite ? select(0, nullptr, &set, nullptr, &tv) : select(0, &set, nullptr, nullptr, &tv);
    if (rc < 0)
        return -1;
    return rc > 0 ? 1 : 0;
}

int SockSendNow(int sock, const void *bytes, int count)
{
    if (SetNonBlocking(sock, true) != 0)
        return -1;
    int n = send(FromHandle(sock), static_cast<const char *>(bytes), count, 0);
    int err = n < 0 ? WSAGetLastError() : 0;
    SetNonBlocking(sock, false);
    if (n < 0)
        return err == WSAEWOULDBLOCK ? 0 : -1;
    return n;
}

uint32_t TickMillis() { return static_cast<uint32_t>(GetTickCount()); }

int SockSendSome(int sock, const void *bytes, int count)
{
    int n = send(FromHandle(sock), static_cast<const char *>(bytes), count, 0);
    return n < 0 ? -1 : n;
}

int SockRecvSome(int sock, void *bytes, int count)
{
    int n = recv(FromHandle(sock), static_cast<char *>(bytes), count, 0);
    return n < 0 ? -1 : n;
}

int SockPeekSome(int sock, void *bytes, int count)
{
    int n = recv(FromHandle(sock), static_cast<char *>(bytes), count, MSG_PEEK);
    return n < 0 ? -1 : n;
}

int SockCloseHandle(int sock) { return closesocket(FromHandle(sock)) < 0 ? -1 : 0; }

}  // namespace tranpak::plat
