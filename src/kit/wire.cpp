#include "kit/wire.h"

namespace tranpak::wire {
namespace {

Scan NeedMore(int size, int len, Kind kind) { return Scan{Status::kNeedMore, Fault::kNone, size, len, kind}; }

Scan Bad(Fault fault, int len, Kind kind) { return Scan{Status::kBad, fault, 0, len, kind}; }

}  // namespace

int ReadDigits(const unsigned char digits[kLenDigits])
{
    int value = 0;
    for (int k = 0; k < kLenDigits; ++k) {
        const unsigned digit = static_cast<unsigned>(digits[k]) - '0';
        if (digit > 9)
            return -1;
        value = value * 10 + static_cast<int>(digit);
    }
    return value;
}

void PutPacketHead(unsigned char head[kPacketHeadSize], int len)
{
    head[0] = kPacketStart;
    PutDigits(head + 1, len);
}

void PutFileHead(unsigned char head[kFileHeadSize], char type, int n)
{
    head[0] = kFileStart;
    head[1] = static_cast<unsigned char>(type);
    PutDigits(head + 2, n);
}

Fault JudgePacketLen(int len)
{
    if (len < kMinPacketLen)
        return Fault::kShort;
    if (len > kMaxPacketLen)
        return Fault::kLong;
    return Fault::kNone;
}

Scan ScanPacket(const unsigned char *bytes, int count)
{
    constexpr Kind kind = Kind::kPacket;
    if (count >= 1 && bytes[0] != kPacketStart)
        return Bad(Fault::kStart, -1, kind);
    if (count < kPacketHeadSize)
        return NeedMore(kMinPacketSize, -1, kind);
    const int len = ReadDigits(bytes + 1);
    if (len < 0)
        return Bad(Fault::kDigits, -1, kind);
    if (const Fault fault = JudgePacketLen(len); fault != Fault::kNone)
        return Bad(fault, len, kind);
    const int size = len + kPacketOverhead;
    if (count < size)
        return NeedMore(size, len, kind);
    if (bytes[size - 1] != kPacketStop)
        return Bad(Fault::kStop, len, kind);
    return Scan{Status::kComplete, Fault::kNone, size, len, kind};
}

Scan ScanFile(const unsigned char *bytes, int count)
{
    constexpr Kind kind = Kind::kFile;
    if (count >= 1 && bytes[0] != kFileStart)
        return Bad(Fault::kStart, -1, kind);
    if (count < kFileHeadSize)
        return NeedMore(kFileHeadSize, -1, kind);
    const int n = ReadDigits(bytes + 2);
    if (n < 0)
        return Bad(Fault::kDigits, -1, kind);
    if (n > kFileBodySize)
        return Bad(Fault::kLong, n, kind);
    const int size = kFileHeadSize + n;
    if (count < size)
        return NeedMore(size, n, kind);
    return Scan{Status::kComplete, Fault::kNone, size, n, kind};
}

Scan ScanFrame(Kind kind, const unsigned char *bytes, int count)
{
    if (kind == Kind::kAny && count >= 1)
        kind = bytes[0] == kPacketStart ? Kind::kPacket : bytes[0] == kFileStart ? Kind::kFile : Kind::kAny;
    switch (kind) {
    case Kind::kPacket:
        return ScanPacket(bytes, count);
    case Kind::kFile:
        return ScanFile(bytes, count);
    default:
        // Nothing yet, or a first byte that starts neither frame.
        return count < 1 ? NeedMore(kFileHeadSize, -1, kind) : Bad(Fault::kStart, -1, kind);
    }
}

const char *FaultText(Fault fault)
{
    switch (fault) {
    case Fault::kNone:
        return "no fault";
    case Fault::kStart:
        return "no frame starts with this byte";
    case Fault::kDigits:
        return "the length is not four decimal digits";
    case Fault::kShort:
        return "the length is below 20";
    case Fault::kLong:
        return "the length is above the largest";
    case Fault::kStop:
        return "no stop byte 0x03 at the end";
    case Fault::kRoom:
        return "the frame does not fit the buffer";
    }
    return "unknown fault";
}

FrameReader::FrameReader(Kind kind, unsigned char *buf, int room) : kind_(kind), buf_(buf), room_(room)
{
    scan_ = Rescan();
}

void FrameReader::Restart()
{
    held_ = 0;
    scan_ = Rescan();
}

Scan FrameReader::Rescan()
{
    Scan s = ScanFrame(kind_, buf_, held_);
    // The next read must fit too: a frame is refused as soon as it is
    // known not to fit, not when the buffer runs out.
    if (s.status != Status::kBad && s.size > room_)
        return Bad(Fault::kRoom, s.len, s.kind);
    return s;
}

int FrameReader::Wanted() const { return scan_.status == Status::kNeedMore ? scan_.size - held_ : 0; }

Scan FrameReader::Took(int n)
{
    held_ += n;
    scan_ = Rescan();
    return scan_;
}

Scan FrameReader::Feed(const unsigned char *bytes, int count, int *taken)
{
    int used = 0;
    // Each step takes what the frame is known to still hold: the start
    // byte alone, then the rest of the head, then the rest of the frame,
    // so a bad start or head is found before a byte after it is taken and
    // pieces of any size give the same result and the same count.
    while (used < count && scan_.status == Status::kNeedMore) {
        const int head = scan_.kind == Kind::kPacket ? kPacketHeadSize : kFileHeadSize;
        const int step = held_ == 0 ? 1 : held_ < head ? head - held_ : Wanted();
        const int left = count - used;
        const int n = step < left ? step : left;
        for (int k = 0; k < n; ++k)
            buf_[held_ + k] = bytes[used + k];
        used += n;
        Took(n);
    }
    *taken = used;
    return scan_;
}

}  // namespace tranpak::wire
