// Frames read and written against a deadline, as wire.h draws them.
#include "client_link.h"

#include "os_programs.h"
#include "../common/shown_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tranpak::tools {
namespace {

// How often a wait looks at the stop flag.
constexpr int kPollSliceMillis = 200;

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
    case LinkResult::kTooLong:
        return "the transfer took too long";
    default:
        return "connection error";
    }
}

ClientLink::ClientLink(int sock, int timeoutMillis, volatile std::sig_atomic_t *stop, long number)
    : sock_(sock), timeout_(timeoutMillis), stop_(stop), number_(number)
{
    os::SetNonBlocking(sock_);
}

void ClientLink::LimitTransfer(int millis)
{
    limited_ = true;
    transferDeadline_ = Clock::now() + std::chrono::milliseconds(millis);
}

ClientLink::Clock::time_point ClientLink::FrameDeadline() const
{
    const Clock::time_point own = Clock::now() + timeout_;
    return limited_ ? std::min(own, transferDeadline_) : own;
}

LinkResult ClientLink::Overdue(LinkResult r, Clock::time_point deadline) const
{
    return r == LinkResult::kTimedOut && limited_ && deadline == transferDeadline_ ? LinkResult::kTooLong : r;
}

LinkResult ClientLink::ReadExactly(void *bytes, int count, Clock::time_point deadline)
{
    auto *p = static_cast<unsigned char *>(bytes);
    while (count > 0) {
        if (*stop_)
            return LinkResult::kStopped;
        if (inStart_ < inEnd_) {
            const int n = std::min(count, inEnd_ - inStart_);
            std::memcpy(p, in_ + inStart_, static_cast<size_t>(n));
            inStart_ += n;
            p += n;
            count -= n;
            continue;
        }
        // The last receive emptied the socket: a frame that follows an
        // answer is mostly yet to come, so wait for it first rather than
        // spend a receive on finding nothing.
        if (drained_) {
            drained_ = false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            const long long wait = std::max(0LL, std::min<long long>(left, kPollSliceMillis));
            if (os::WaitSocket(sock_, false, static_cast<int>(wait)) < 0)
                return LinkResult::kFailed;
        }
        // Whatever has come, up to a whole Packet: the next reads of this
        // frame (and of the next one, when the client sent it already)
        // are then served from here without a system call.
        int n = os::RecvNow(sock_, in_, kInSize);
        if (n == 0)
            return LinkResult::kClosed;
        if (n == -1)
            return LinkResult::kFailed;
        if (n > 0) {
            inStart_ = 0;
            inEnd_ = n;
            drained_ = n < kInSize;
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
    const Clock::time_point deadline = FrameDeadline();
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
            return Overdue(LinkResult::kTimedOut, deadline);
        if (os::WaitSocket(sock_, true, static_cast<int>(std::min<long long>(left, kPollSliceMillis))) < 0)
            return LinkResult::kFailed;
    }
    return LinkResult::kOk;
}

LinkResult ClientLink::ReadFrame(unsigned char *first, std::string *why, int waitMillis, bool *started)
{
    const auto wait = waitMillis < 0 ? timeout_ : std::chrono::milliseconds(waitMillis);
    LinkResult r = ReadExactly(first, 1, Clock::now() + wait);
    if (started != nullptr)
        *started = r == LinkResult::kOk;
    if (r != LinkResult::kOk)
        return r;
    const Clock::time_point deadline = Clock::now() + timeout_;
    if (*first == kPacketStart)
        return ReadPacketRest(why, deadline);
    if (*first == kFileStart)
        return ReadFileRest(why, deadline);
    return LinkResult::kOk;  // the caller names the byte
}

LinkResult ClientLink::ReadFileFrame(std::string *why)
{
    const Clock::time_point deadline = FrameDeadline();
    unsigned char first = 0;
    LinkResult r = ReadExactly(&first, 1, deadline);
    if (r != LinkResult::kOk)
        return Overdue(r, deadline);
    if (first != kFileStart) {
        *why = "a file frame starts with 0x06";
        return LinkResult::kMalformed;
    }
    return Overdue(ReadFileRest(why, deadline), deadline);
}

LinkResult ClientLink::ReadPacketRest(std::string *why, Clock::time_point deadline)
{
    packetLength_ = 0;
    unsigned char *digits = packet_ + 1;
    LinkResult r = ReadExactly(digits, kLenDigits, deadline);
    if (r != LinkResult::kOk)
        return r;
    int len = 0;
    if (!Digits(digits, kLenDigits, &len) || len < kMinPacketLen || len > kMaxPacketLen) {
        *why = "Packet len \"" + Escaped(std::string(reinterpret_cast<char *>(digits), kLenDigits)) +
               "\" is not 20 to 2047";
        return LinkResult::kMalformed;
    }
    r = ReadExactly(digits + kLenDigits, len + 1, deadline);
    if (r != LinkResult::kOk)
        return r;
    if (digits[kLenDigits + len] != kPacketStop) {
        *why = "no stop byte 0x03 after the Packet";
        return LinkResult::kMalformed;
    }
    packet_[0] = kPacketStart;
    packetLength_ = len + kPacketOverhead;
    return LinkResult::kOk;
}

LinkResult ClientLink::ReadFileRest(std::string *why, Clock::time_point deadline)
{
    fileType_ = 0;
    fileLength_ = 0;
    unsigned char head[kFileHeadSize - 1];
    LinkResult r = ReadExactly(head, kFileHeadSize - 1, deadline);
    if (r != LinkResult::kOk)
        return r;
    fileType_ = static_cast<char>(head[0]);
    int n = 0;
    if (!Digits(head + 1, 4, &n) || n > kFileBodySize) {
        *why = "file frame length \"" + Escaped(std::string(reinterpret_cast<char *>(head + 1), 4)) +
               "\" is not 0 to 1024";
        return LinkResult::kMalformed;
    }
    if (fileType_ < '0' || fileType_ > '4') {
        *why = "file frame of unknown type";
        return LinkResult::kMalformed;
    }
    r = ReadExactly(fileBody_, n, deadline);
    if (r == LinkResult::kOk)
        fileLength_ = n;
    return r;
}

LinkResult ClientLink::WriteFileFrame(char type, const void *body, int n)
{
    char frame[kFileHeadSize + kFileBodySize];
    frame[0] = static_cast<char>(kFileStart);
    frame[1] = type;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", n);
    std::memcpy(frame + 2, digits, 4);
    if (n > 0)
        std::memcpy(frame + kFileHeadSize, body, static_cast<size_t>(n));
    return Write(frame, kFileHeadSize + n);
}

void ClientLink::Linger(int millis)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(millis);
    char sink[kFileBodySize];
    for (;;) {
        const LinkResult r = ReadExactly(sink, sizeof sink, deadline);
        if (r != LinkResult::kOk)
            return;  // closed, timed out, stopped or broken: done either way
    }
}

bool ClientLink::Pause(int millis)
{
    for (int waited = 0; waited < millis && !*stop_; waited += kPollSliceMillis)
        os::SleepMillis(std::min(kPollSliceMillis, millis - waited));
    return !*stop_;
}

}  // namespace tranpak::tools
