#include "codec/frame.h"

#include "diag/errlog.h"
#include "message/cell_access.h"
#include "message/numtext.h"
#include "message/text_check.h"

#include <cstring>

namespace tranpak {
namespace {

// How the scanner's faults of a Packet's head and end are logged: one line
// each, with the byte or the length it found.
struct FrameFaultText {
    wire::Fault fault;
    const char *format;
};
constexpr FrameFaultText kFrameFaultTexts[] = {
    {wire::Fault::kStart, "tranpak: Packet.start = 0x%02X"},
    {wire::Fault::kDigits, "tranpak: Packet.len not number, buf:%s"},
    {wire::Fault::kShort, "tranpak: Packet.len = %d, too short"},
    {wire::Fault::kLong, "tranpak: Packet.len = %d, too long"},
    {wire::Fault::kStop, "tranpak: Packet.stop = 0x%02X"},
};

const char *FrameFaultFormat(wire::Fault fault)
{
    for (const FrameFaultText &t : kFrameFaultTexts)
        if (t.fault == fault)
            return t.format;
    return "tranpak: Packet %s";
}

// The fault logged against the frame byte it concerns: the start byte, the
// length digits, or the stop byte after len bytes.
[[gnu::cold]] bool RefuseFrame(MesgState &m, wire::Fault fault, const unsigned char *head, int len, int stop)
{
    const char *format = FrameFaultFormat(fault);
    switch (fault) {
    case wire::Fault::kStart:
        WriteErrLog(m.LogField(-1, 0), kErrMalformed, format, head[0]);
        break;
    case wire::Fault::kDigits: {
        char digits[wire::kLenDigits + 1] = {};
        std::memcpy(digits, head + 1, wire::kLenDigits);
        WriteErrLog(m.LogField(-1, 1), kErrMalformed, format, digits);
        break;
    }
    case wire::Fault::kStop:
        WriteErrLog(m.LogField(-1, kFrameHeadSize + len), kErrMalformed, format, stop);
        break;
    default:
        WriteErrLog(m.LogField(-1, 1), kErrMalformed, format, len);
        break;
    }
    return false;
}

// What the scanner says of a head, with the length digits that are not
// four decimal digits read as the number test and atoi read them.
struct HeadScan {
    wire::Fault fault;
    int len;
    bool lenRead;  // len holds the value of the digits
};

HeadScan ScanHead(const unsigned char head[kFrameHeadSize])
{
    const wire::Scan scan = wire::ScanPacket(head, kFrameHeadSize);
    if (scan.fault != wire::Fault::kDigits)
        return HeadScan{scan.fault, scan.len, scan.len >= 0};
    char digits[wire::kLenDigits + 1] = {};
    std::memcpy(digits, head + 1, wire::kLenDigits);
    if (!IsNumberText(digits))
        return HeadScan{wire::Fault::kDigits, -1, false};
    const int len = TextToInt(digits);
    return HeadScan{wire::JudgePacketLen(len), len, true};
}

}  // namespace

int RefuseStop(MesgState &m, int len, int stop)
{
    RefuseFrame(m, wire::Fault::kStop, nullptr, len, stop);
    return -1;
}

bool TakeHead(MesgState &m, const unsigned char head[kFrameHeadSize])
{
    Packet &p = m.packet;
    p.start = head[0];
    const HeadScan scan = ScanHead(head);
    if (scan.lenRead)
        p.len = scan.len;
    if (scan.fault != wire::Fault::kNone)
        return RefuseFrame(m, scan.fault, head, p.len, 0);
    return true;
}

int PackFrame(MesgState &m, DesContext &des, const void *key, unsigned char *frame, int size, int *frameLen)
{
    if (key == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpPackMesg() key is NULL");
        return -1;
    }
    if (frame == nullptr || frameLen == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpPackMesg() frame is NULL");
        return -1;
    }
    unsigned char built[kAnyFrameSize];
    int len = 0;
    if (BuildFrame(m, des, static_cast<const unsigned char *>(key), built, &len) != 0)
        return -1;
    if (len > size) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpPackMesg() frame of %d bytes does not fit %d", len, size);
        return -1;
    }
    std::memcpy(frame, built, static_cast<size_t>(len));
    *frameLen = len;
    return 0;
}

int BuildFrame(MesgState &m, DesContext &des, const unsigned char *key, unsigned char frame[kAnyFrameSize],
               int *frameLen)
{
    if (UsesDialectCodec(m)) [[unlikely]]
        return BuildDialectFrame(m, des, key, frame, kAnyFrameSize, frameLen);
    static_assert(kAnyFrameSize >= kFrameBufSize);
    return BuildPacket(m, des, frame, key, frameLen);
}

int UnpackFrame(MesgState &m, const unsigned char *frame, int frameLen)
{
    ResetMesg(m);
    if (frame == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpUnpackMesg() frame is NULL");
        return -1;
    }
    if (m.settings.dialect != 0) {
        if (frameLen < 1) {
            WriteErrLog(m.Log(), kErrArgument, "tranpak: TpUnpackMesg() frameLen = %d, shorter than a frame's head",
                        frameLen);
            return -1;
        }
        return UnpackDialectFrame(m, frame, frameLen);
    }
    if (frameLen < kFrameHeadSize) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpUnpackMesg() frameLen = %d, shorter than a frame's head",
                    frameLen);
        return -1;
    }
    if (!TakeHead(m, frame))
        return -1;
    // The head says how long the frame is: start, 4 digits, len bytes, stop.
    const int own = m.packet.len + kFrameOverhead;
    if (frameLen != own) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpUnpackMesg() frameLen = %d, the frame has %d", frameLen, own);
        return -1;
    }
    return TakeBody(m, frame + kFrameHeadSize);
}

}  // namespace tranpak
