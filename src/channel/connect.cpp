// Opening and closing TCP connections, and the transfer loops.
#include "message/mesg_state.h"
#include "message/numtext.h"
#include "message/text_check.h"
#include "diag/errlog.h"
#include "channel/net.h"
#include "os/os.h"

#include <cstring>

namespace tranpak {

int IsDottedQuad(const char *host)
{
    char copy[kHostBufSize];
    size_t len = std::strlen(host);
    if (len >= sizeof copy)
        return 0;  // no dotted address is that long
    std::memcpy(copy, host, len + 1);
    char *part = copy;
    for (int k = 0; k < 4; ++k) {
        char *end = nullptr;
        if (k < 3) {
            end = std::strchr(part, '.');
            if (end == nullptr)
                return 0;
            *end = '\0';
        }
        if (!IsNumberText(part))
            return 0;
        int value = TextToInt(part);
        if (value < 0 || value > 255)
            return 0;
        if (end != nullptr)
            part = end + 1;
    }
    return 1;
}

namespace {

// Calls move(position, remaining) until count bytes have moved, a call
// moves none (the peer closed, or the socket takes no more) or one fails.
template <typename Move>
int MoveAll(int count, Move move)
{
    int remaining = count;
    while (remaining != 0) {
        int n = move(count - remaining, remaining);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        remaining -= n;
    }
    return count - remaining;
}

// MoveAll against a frame's deadline: before each call it waits, no longer
// than the frame has left, until the socket is ready. When the time has
// passed, the count so far is returned, as if the peer had closed then.
template <typename Move>
int MoveWithin(int sock, bool forWrite, int count, const FrameDeadline &deadline, Move move)
{
    int remaining = count;
    while (remaining != 0) {
        const FrameDeadline *passing = nullptr;
        int left = deadline.MillisLeft(&passing);
        if (left <= 0) {
            WriteLimitPassed(deadline.log, *passing);
            break;
        }
        int ready = os::WaitSocket(sock, forWrite, left);
        if (ready < 0)
            return -1;
        if (ready == 0)
            continue;
        int n = move(count - remaining, remaining);
        if (n == os::kNotNow)
            continue;  // the socket takes nothing yet after all
        if (n < 0)
            return -1;
        if (n == 0 && !forWrite)
            break;  // the peer closed
        remaining -= n;
    }
    return count - remaining;
}

}  // namespace

FrameDeadline::FrameDeadline(const ErrSink &sink, int limitSeconds, const char *what, const FrameDeadline *outerBound)
    : log(sink),
      seconds(limitSeconds),
      start(limitSeconds > 0 ? os::TickMillis() : 0),
      direction(what),
      outer(outerBound)
{
}

bool FrameDeadline::Bounded() const { return seconds > 0 || (outer != nullptr && outer->Bounded()); }

int FrameDeadline::MillisLeft(const FrameDeadline **passing) const
{
    int left = 0;
    *passing = nullptr;
    for (const FrameDeadline *d = this; d != nullptr; d = d->outer) {
        if (d->seconds <= 0)
            continue;
        int mine = d->seconds * 1000 - static_cast<int>(os::TickMillis() - d->start);
        if (*passing == nullptr || mine < left) {
            left = mine;
            *passing = d;
        }
    }
    return left;
}

void WriteLimitPassed(const ErrSink &log, const FrameDeadline &passing)
{
    WriteErrLog(log, kErrTimeLimit, "tranpak: %s time limit of %d s passed", passing.direction, passing.seconds);
}

int SendAll(int sock, const void *bytes, int count, const FrameDeadline *deadline)
{
    const auto *p = static_cast<const unsigned char *>(bytes);
    if (deadline != nullptr && deadline->Bounded())
        return MoveWithin(sock, true, count, *deadline,
                          [&](int at, int n) { return os::SendNowOnBlocking(sock, p + at, n); });
    return MoveAll(count, [&](int at, int n) { return os::SockSendSome(sock, p + at, n); });
}

int RecvAll(int sock, void *bytes, int count, const FrameDeadline *deadline)
{
    auto *p = static_cast<unsigned char *>(bytes);
    if (deadline != nullptr && deadline->Bounded())
        return MoveWithin(sock, false, count, *deadline,
                          [&](int at, int n) { return os::SockRecvSome(sock, p + at, n); });
    return MoveAll(count, [&](int at, int n) { return os::SockRecvSome(sock, p + at, n); });
}

int ConnectHost(const ErrSink &log, const char *host, int port, int limitSeconds, const FrameDeadline *transfer)
{
    if (host == nullptr) {
        WriteErrLog(log, kErrArgument, "tranpak: SockConnect() host is NULL");
        return -1;
    }
    if (std::strlen(host) >= kHostBufSize) {
        WriteErrLog(log, kErrArgument, "tranpak: SockConnect() host text has over %d characters", kHostBufSize - 1);
        return -1;
    }
    unsigned char addr[4];
    // A dotted address is connected to as it stands: a host without a
    // reverse lookup entry is not an error.
    if (IsDottedQuad(host)) {
        if (os::ParseIPv4(host, addr) != 0) {
            WriteErrLog(log.Detail(ErrDetail("connect to %s:%d: %s is no IPv4 address", host, port, host)), kErrConnect,
                        "tranpak: get host %s by addr error", host);
            return -1;
        }
    } else if (os::LookupHostByName(host, addr) != 0) {
        WriteErrLog(log.Detail(ErrDetail("connect to %s:%d: no IPv4 address found for %s", host, port, host)),
                    kErrConnect, "tranpak: get host %s by name error", host);
        return -1;
    }
    // The time limits bound the connection attempt only, not the lookup:
    // the connection limit, or what is left of a transfer's, the nearer.
    FrameDeadline attempt(log, limitSeconds, "connect", transfer);
    const FrameDeadline *passing = nullptr;
    const int left = attempt.Bounded() ? attempt.MillisLeft(&passing) : 0;
    int sock = os::SockOpenTcp();
    int error = sock == os::kNoSocket ? os::LastSocketError() : 0;
    int rc = -1;
    if (sock != os::kNoSocket && passing != nullptr)
        rc = left > 0 ? os::SockConnectIPv4Within(sock, addr, port, left, &error) : os::kTimedOut;
    else if (sock != os::kNoSocket)
        rc = os::SockConnectIPv4(sock, addr, port, &error);
    if (rc == os::kTimedOut)
        WriteLimitPassed(
            log.Detail(ErrDetail("connect to %s:%d: time limit of %d s passed", host, port, passing->seconds)),
            *passing);
    if (rc != 0) {
        char why[os::kErrorTextSize] = "";
        if (error != 0)
            os::SocketErrorText(error, why, sizeof why);
        WriteErrLog(log.Detail(ErrDetail("connect to %s:%d: %s%s", host, port,
                                         sock == os::kNoSocket ? "no socket: " : "", error != 0 ? why : "failed"),
                               error),
                    kErrConnect, "tranpak: connect error");
        if (sock != os::kNoSocket)
            os::SockCloseHandle(sock);
        return -1;
    }
    return sock;
}

int SockConnect(MesgState &m, const char *host, int port)
{
    return ConnectHost(m.Log(), host, port, m.settings.connectLimit, nullptr);
}

int SockClose(MesgState &m, int sock)
{
    if (os::SockCloseHandle(sock) != 0) {
        WriteErrLog(m.Log(), kErrConnect, "tranpak: close sockfd error");
        return -1;
    }
    return 0;
}

}  // namespace tranpak
