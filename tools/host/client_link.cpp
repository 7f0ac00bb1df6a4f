// Frames read and written against a deadline:
//
//   02 <4 digits len> <len bytes: type, bitmap, data> 03    a Packet
//   06 <type '0'..'4'> <4 digits n> <n body bytes>           a file frame
#include "client_link.h"

#include "../common/os.h"
#include "core/mesg_state.h"
#include "net/file_transfer.h"
#include "packet/packet.h"
#include "platform/platform.h"
#include "tranpak.h"

#include <algorithm>
#include <cstring>

namespace tranpak::tools {
namespace {

// How often a wait looks at the stop flag.
constexpr int kPollSliceMillis = 200;
// Smallest and largest len of a Packet, as the library takes them.
constexpr int kMinPacketLen = kLenHeader + kMacSize;
constexpr int kMaxPacketLen = kFrameBufSize - 1;

bool Digits(const unsigned char *p, int count, int *value)
{
    *value = 0;
    for (int i = 0; i < count; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        *value = *value * 10 + (p[i] - '0');
    }
    return true;
}

}  // namespace

const char *LinkResultText(LinkResult r)
{
    switch (r) {
    case LinkResult::kOk:
        return "ok";
    case LinkResult::kClosed:
        return "the client closed the connection";
    case LinkResult::kTimedOut:
        return "the client timed out";
    case LinkResult::kStopped:
        return "the host was stopped";
    case LinkResult::kMalformed:
        return "malformed frame";
    default:
        return "connection error";
    }
}

ClientLink::ClientLink(int sock, int timeoutMillis, volatile std::sig_atomic_t *stop)
    : sock_(sock), timeout_(timeoutMillis), stop_(stop)
{
    os::SetNonBlocking(sock_);
}

LinkResult ClientLink::ReadExactly(void *bytes, int count, Clock::time_point deadline)
{
    auto *p = static_cast<unsigned char *>(bytes);
    while (count > 0) {
        if (*stop_)
            return LinkResult::kStopped;
        int n = os::RecvNow(sock_, p, count);
        if (n == 0)
            return LinkResult::kClosed;
        if (n == -1)
            return LinkResult::kFailed;
        if (n > 0) {
            p += n;
            count -= n;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return LinkResult::kTimedOut;
        if (os::WaitSocket(sock_, false, static_cast<int>(std::min<long long>(left, kPollSliceMillis))) < 0)
            return LinkResult::kFailed;
    }
    return LinkResult::kOk;
}

LinkResult ClientLink::Write(const void *bytes, int count)
{
    const Clock::time_point deadline = Clock::now() + timeout_;
    const auto *p = static_cast<const unsigned char *>(bytes);
    while (count > 0) {
        if (*stop_)
            return LinkResult::kStopped;
        int n = os::SendNow(sock_, p, count);
        if (n == -1 || n == 0)
            return LinkResult::kFailed;
        if (n > 0) {
            p += n;
            count -= n;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return LinkResult::kTimedOut;
        if (os::WaitSocket(sock_, true, static_cast<int>(std::min<long long>(left, kPollSliceMillis))) < 0)
            return LinkResult::kFailed;
    }
    return LinkResult::kOk;
}

LinkResult ClientLink::ReadFrame(unsigned char *first, std::string *why)
{
    const Clock::time_point deadline = Clock::now() + timeout_;
    LinkResult r = ReadExactly(first, 1, deadline);
    if (r != LinkResult::kOk)
        return r;
    if (*first == kStartByte)
        return ReadPacketRest(why, deadline);
    if (*first == static_cast<unsigned char>(kFileStx))
        return ReadFileRest(why, deadline);
    return LinkResult::kOk;  // the caller names the byte
}

LinkResult ClientLink::ReadFileFrame(std::string *why)
{
    const Clock::time_point deadline = Clock::now() + timeout_;
    unsigned char first = 0;
    LinkResult r = ReadExactly(&first, 1, deadline);
    if (r != LinkResult::kOk)
        return r;
    if (first != static_cast<unsigned char>(kFileStx)) {
        *why = "a file frame starts with 0x06";
        return LinkResult::kMalformed;
    }
    return ReadFileRest(why, deadline);
}

LinkResult ClientLink::ReadPacketRest(std::string *why, Clock::time_point deadline)
{
    static unsigned char buf[kFrameBufSize];
    Packet &p = g_mesg.packet;
    LinkResult r = ReadExactly(buf, kLenDigits, deadline);
    if (r != LinkResult::kOk)
        return r;
    int len = 0;
    if (!Digits(buf, kLenDigits, &len) || len < kMinPacketLen || len > kMaxPacketLen) {
        *why = "Packet len \"" + std::string(reinterpret_cast<char *>(buf), kLenDigits) + "\" is not 20 to 2047";
        return LinkResult::kMalformed;
    }
    r = ReadExactly(buf, len + 1, deadline);
    if (r != LinkResult::kOk)
        return r;
    if (buf[len] != kStopByte) {
        *why = "no stop byte 0x03 after the Packet";
        return LinkResult::kMalformed;
    }
    ResetMesg();
    p.start = kStartByte;
    p.len = len;
    std::memcpy(p.txcode, buf, kTxcodeLen);
    p.txcode[kTxcodeLen] = '\0';
    std::memcpy(p.bitmap, buf + kTxcodeLen, kBitmapSize);
    std::memcpy(p.data, buf + kLenHeader, static_cast<size_t>(len - kLenHeader));
    p.stop = kStopByte;
    return LinkResult::kOk;
}

LinkResult ClientLink::ReadFileRest(std::string *why, Clock::time_point deadline)
{
    std::memset(&g_fileMesg, 0, sizeof g_fileMesg);
    g_fileMesg.stx = kFileStx;
    LinkResult r = ReadExactly(&g_fileMesg.mesg_type, kFileHeadSize - 1, deadline);
    if (r != LinkResult::kOk)
        return r;
    int n = 0;
    if (!Digits(reinterpret_cast<const unsigned char *>(g_fileMesg.len), 4, &n) || n > kFileBodySize) {
        *why = "file frame length \"" + std::string(g_fileMesg.len, 4) + "\" is not 0 to 1024";
        return LinkResult::kMalformed;
    }
    if (g_fileMesg.mesg_type < '0' || g_fileMesg.mesg_type > '4') {
        *why = "file frame of unknown type";
        return LinkResult::kMalformed;
    }
    return ReadExactly(g_fileMesg.buf, n, deadline);
}

LinkResult ClientLink::WriteFileFrame()
{
    static char frame[kFileHeadSize + kFileBodySize];
    int n = 0;
    Digits(reinterpret_cast<const unsigned char *>(g_fileMesg.len), 4, &n);
    std::memcpy(frame, &g_fileMesg, kFileHeadSize);
    std::memcpy(frame + kFileHeadSize, g_fileMesg.buf, static_cast<size_t>(n));
    return Write(frame, kFileHeadSize + n);
}

bool ClientLink::Pause(int millis)
{
    for (int waited = 0; waited < millis && !*stop_; waited += kPollSliceMillis)
        plat::SleepMillis(std::min(kPollSliceMillis, millis - waited));
    return !*stop_;
}

}  // namespace tranpak::tools
