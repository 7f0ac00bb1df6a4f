// Frames read and written against a deadline; wire.h (the kit's) draws
// them and judges their heads.
#include "client_link.h"

#include "os_programs.h"
#include "../common/shown_text.h"
#include "../common/tool_support.h"

#include <algorithm>
#include <cstring>

namespace tranpak::tools {
namespace {

// How often a wait looks at the stop flag.
constexpr int kPollSliceMillis = 200;

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

void ClientLink::LimitFrames(int millis)
{
    framesLimited_ = true;
    framesDeadline_ = Clock::now() + std::chrono::milliseconds(millis);
}

ClientLink::Clock::time_point ClientLink::Capped(Clock::time_point deadline) const
{
    return framesLimited_ ? std::min(deadline, framesDeadline_) : deadline;
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

void ClientLink::SpeakDialect(const wire::WireFormat &format)
{
    format_ = format;
    dialect_ = !wire::IsSeedFormat(format);
}

LinkResult ClientLink::ReadFrame(unsigned char *first, std::string *why, int waitMillis, bool *started)
{
    kind_ = FrameKind::kNone;
    const auto wait = waitMillis < 0 ? timeout_ : std::chrono::milliseconds(waitMillis);
    LinkResult r = ReadExactly(first, 1, Capped(Clock::now() + wait));
    if (started != nullptr)
        *started = r == LinkResult::kOk;
    if (r != LinkResult::kOk)
        return r;
    const bool firstOfConnection = firstFrame_;
    firstFrame_ = false;
    const Clock::time_point deadline = Capped(Clock::now() + timeout_);
    if (dialect_ && format_.envelope == wire::EnvelopeCode::kNone)
        return ReadBareFrame(*first, firstOfConnection, why, deadline);
    if (*first == wire::kPacketStart) {
        kind_ = FrameKind::kPacket;
        if (!dialect_)
            return ReadPacketRest(why, deadline);
        packet_[0] = *first;
        return ReadDialectRest(1, why, deadline);
    }
    if (*first == wire::kFileStart) {
        kind_ = FrameKind::kFile;
        return ReadFileRest(why, deadline);
    }
    return LinkResult::kOk;  // the caller names the byte
}

LinkResult ClientLink::ReadBareFrame(unsigned char first, bool firstOfConnection, std::string *why,
                                     Clock::time_point deadline)
{
    packetLength_ = 0;
    packet_[0] = first;
    int held = 1;
    if (first == wire::kFileStart && firstOfConnection) {
        // Six bytes are no more than the shortest message, so reading them
        // passes no frame's end whichever this is.
        static_assert(wire::kFileHeadSize <= wire::kMinBody);
        const LinkResult r = ReadExactly(packet_ + 1, wire::kFileHeadSize - 1, deadline);
        if (r != LinkResult::kOk)
            return r;
        held = wire::kFileHeadSize;
        const char type = static_cast<char>(packet_[1]);
        const bool fileHead = type >= wire::kFileSendRequest && type <= wire::kFileEnd &&
                              wire::ScanFile(packet_, wire::kFileHeadSize).status != wire::Status::kBad;
        if (fileHead) {
            kind_ = FrameKind::kFile;
            return ReadFileBody(packet_, why, deadline);
        }
    }
    kind_ = FrameKind::kPacket;
    return ReadDialectRest(held, why, deadline);
}

LinkResult ClientLink::ReadDialectRest(int held, std::string *why, Clock::time_point deadline)
{
    packetLength_ = 0;
    const int lengthAt = format_.envelope == wire::EnvelopeCode::kStxEtx ? 1 : 0;
    const int lengthEnd = lengthAt + wire::LengthSize(format_);
    if (held < lengthEnd) {
        const LinkResult r = ReadExactly(packet_ + held, lengthEnd - held, deadline);
        if (r != LinkResult::kOk)
            return r;
        held = lengthEnd;
    }
    wire::Scan scan = wire::ScanDialect(format_, packet_, held);
    if (scan.status == wire::Status::kBad) {
        const std::string bytes = ToHex(packet_ + lengthAt, static_cast<size_t>(lengthEnd - lengthAt), " ");
        *why = scan.fault == wire::Fault::kDigits
                   ? "length " + bytes + " is no " + wire::LengthName(format_.length) + " length"
                   : "length " + bytes + " says a body of " + std::to_string(scan.len) + " bytes, not " +
                         std::to_string(wire::kMinBody) + " to " + std::to_string(wire::kMaxBody);
        return LinkResult::kMalformed;
    }
    if (scan.status == wire::Status::kNeedMore) {
        const LinkResult r = ReadExactly(packet_ + held, scan.size - held, deadline);
        if (r != LinkResult::kOk)
            return r;
        scan = wire::ScanDialect(format_, packet_, scan.size);
    }
    if (scan.status != wire::Status::kComplete) {
        *why = "no stop byte 0x03 after the frame";
        return LinkResult::kMalformed;
    }
    packetLength_ = scan.size;
    return LinkResult::kOk;
}

LinkResult ClientLink::ReadFileFrame(std::string *why)
{
    const Clock::time_point deadline = FrameDeadline();
    unsigned char first = 0;
    LinkResult r = ReadExactly(&first, 1, deadline);
    if (r != LinkResult::kOk)
        return Overdue(r, deadline);
    if (first != wire::kFileStart) {
        *why = "a file frame starts with 0x06";
        return LinkResult::kMalformed;
    }
    return Overdue(ReadFileRest(why, deadline), deadline);
}

LinkResult ClientLink::ReadPacketRest(std::string *why, Clock::time_point deadline)
{
    packetLength_ = 0;
    packet_[0] = wire::kPacketStart;
    LinkResult r = ReadExactly(packet_ + 1, wire::kLenDigits, deadline);
    if (r != LinkResult::kOk)
        return r;
    wire::Scan scan = wire::ScanPacket(packet_, wire::kPacketHeadSize);
    if (scan.status == wire::Status::kBad) {
        *why = "Packet len \"" + Escaped(std::string(reinterpret_cast<char *>(packet_ + 1), wire::kLenDigits)) +
               "\" is not 20 to 2047";
        return LinkResult::kMalformed;
    }
    r = ReadExactly(packet_ + wire::kPacketHeadSize, scan.size - wire::kPacketHeadSize, deadline);
    if (r != LinkResult::kOk)
        return r;
    scan = wire::ScanPacket(packet_, scan.size);
    if (scan.status == wire::Status::kBad) {
        *why = "no stop byte 0x03 after the Packet";
        return LinkResult::kMalformed;
    }
    packetLength_ = scan.size;
    return LinkResult::kOk;
}

LinkResult ClientLink::ReadFileRest(std::string *why, Clock::time_point deadline)
{
    fileType_ = 0;
    fileLength_ = 0;
    unsigned char head[wire::kFileHeadSize] = {wire::kFileStart};
    const LinkResult r = ReadExactly(head + 1, wire::kFileHeadSize - 1, deadline);
    if (r != LinkResult::kOk)
        return r;
    return ReadFileBody(head, why, deadline);
}

LinkResult ClientLink::ReadFileBody(const unsigned char *head, std::string *why, Clock::time_point deadline)
{
    fileLength_ = 0;
    fileType_ = static_cast<char>(head[1]);
    const wire::Scan scan = wire::ScanFile(head, wire::kFileHeadSize);
    if (scan.status == wire::Status::kBad) {
        *why = "file frame length \"" +
               Escaped(std::string(reinterpret_cast<const char *>(head + 2), wire::kLenDigits)) + "\" is not 0 to 1024";
        return LinkResult::kMalformed;
    }
    if (fileType_ < wire::kFileSendRequest || fileType_ > wire::kFileEnd) {
        *why = "file frame of unknown type";
        return LinkResult::kMalformed;
    }
    const LinkResult r = ReadExactly(fileBody_, scan.len, deadline);
    if (r == LinkResult::kOk)
        fileLength_ = scan.len;
    return r;
}

LinkResult ClientLink::WriteFileFrame(char type, const void *body, int n)
{
    unsigned char frame[wire::kFileBufSize];
    wire::PutFileHead(frame, type, n);
    if (n > 0)
        std::memcpy(frame + wire::kFileHeadSize, body, static_cast<size_t>(n));
    return Write(frame, wire::kFileHeadSize + n);
}

void ClientLink::Linger(int millis)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(millis);
    char sink[wire::kFileBodySize];
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
