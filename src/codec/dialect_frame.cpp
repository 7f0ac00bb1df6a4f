// A whole message in a wire dialect (codec/dialect.h): the type, the
// bitmaps, the fields in order, the MAC field last, and the frame around
// them (kit/wire_format.h).
//
//   [02] [length] [header] type bitmap [bitmap 2] fields... MAC [03]
//
// Under a secondary bitmap, bit 1 of the primary is set, fields 65 to 127
// follow fields 2 to 64, and field 128 carries the MAC; without one, field
// 64 does, as in the seed's frame.
#include "codec/dialect.h"

#include "codec/bitmap.h"
#include "codec/mac.h"
#include "codec/packet.h"
#include "diag/errlog.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace tranpak {
namespace {

using wire::WireFormat;

int MtiSize(const WireFormat &f) { return f.mti == wire::MtiCode::kBcd ? 2 : kTxcodeLen; }
int BitmapWireSize(const WireFormat &f) { return f.bitmap == wire::BitmapCode::kHex ? 2 * kBitmapSize : kBitmapSize; }

// The type into out; false when it cannot be written so.
bool PutMti(const WireFormat &f, const char *txcode, unsigned char *out)
{
    switch (f.mti) {
    case wire::MtiCode::kAscii:
        std::memcpy(out, txcode, kTxcodeLen);
        return true;
    case wire::MtiCode::kEbcdic:
        for (int k = 0; k < kTxcodeLen; ++k) {
            const int b = wire::EncodeChar(f.charset == wire::Charset::kAscii ? wire::Charset::kEbcdic037 : f.charset,
                                           static_cast<unsigned char>(txcode[k]));
            if (b < 0)
                return false;
            out[k] = static_cast<unsigned char>(b);
        }
        return true;
    case wire::MtiCode::kBcd:
        for (int k = 0; k < kTxcodeLen; ++k)
            if (txcode[k] < '0' || txcode[k] > '9')
                return false;
        out[0] = static_cast<unsigned char>((txcode[0] - '0') << 4 | (txcode[1] - '0'));
        out[1] = static_cast<unsigned char>((txcode[2] - '0') << 4 | (txcode[3] - '0'));
        return true;
    }
    return false;
}

void PutBitmap(const WireFormat &f, const unsigned char bitmap[kBitmapSize], unsigned char *out)
{
    if (f.bitmap == wire::BitmapCode::kBinary) {
        std::memcpy(out, bitmap, kBitmapSize);
        return;
    }
    for (int k = 0; k < kBitmapSize; ++k)
        wire::PutHexByte(f.charset, bitmap[k], out + 2 * k);
}

// The frame offset where a fault lies, for the log; -1 for the whole.
[[gnu::cold]] int RefuseAt(MesgState &m, int field, int offset, const char *format, int a, int b = 0)
{
    WriteErrLog(m.LogField(field, offset), kErrMalformed, format, a, b);
    return -1;
}

// The type at in into txcode; -1 (logged) when it is no type.
int TakeMti(MesgState &m, const WireFormat &f, const unsigned char *in, int at)
{
    char *txcode = m.packet.txcode;
    switch (f.mti) {
    case wire::MtiCode::kAscii:
        std::memcpy(txcode, in, kTxcodeLen);
        break;
    case wire::MtiCode::kEbcdic:
        for (int k = 0; k < kTxcodeLen; ++k) {
            const int c =
                wire::DecodeChar(f.charset == wire::Charset::kAscii ? wire::Charset::kEbcdic037 : f.charset, in[k]);
            if (c <= 0)
                return RefuseAt(m, 0, at + k, "tranpak: txcode byte 0x%02X at offset %d is no EBCDIC character", in[k],
                                at + k);
            txcode[k] = static_cast<char>(c);
        }
        break;
    case wire::MtiCode::kBcd:
        for (int k = 0; k < kTxcodeLen; ++k) {
            const int nibble = (k & 1) == 0 ? in[k / 2] >> 4 : in[k / 2] & 0xF;
            if (nibble > 9)
                return RefuseAt(m, 0, at + k / 2, "tranpak: txcode BCD nibble %X at offset %d", nibble, at + k / 2);
            txcode[k] = static_cast<char>('0' + nibble);
        }
        break;
    }
    txcode[kTxcodeLen] = '\0';
    return 0;
}

// A bitmap at in into out; -1 (logged) when a hexadecimal one is not.
int TakeBitmap(MesgState &m, const WireFormat &f, const unsigned char *in, int at, unsigned char out[kBitmapSize])
{
    if (f.bitmap == wire::BitmapCode::kBinary) {
        std::memcpy(out, in, kBitmapSize);
        return 0;
    }
    for (int k = 0; k < kBitmapSize; ++k) {
        int bad = 0;
        const int byte = wire::TakeHexByte(f.charset, in + 2 * k, &bad);
        if (byte < 0)
            return RefuseAt(m, -1, at + 2 * k + bad, "tranpak: bitmap byte 0x%02X at offset %d is no hexadecimal digit",
                            in[2 * k + bad], at + 2 * k + bad);
        out[k] = static_cast<unsigned char>(byte);
    }
    return 0;
}

bool MacCellCarries(MesgState &m, int macCell)
{
    const BMPCell &mac = m.cells[macCell];
    if (mac.type == kTypeB && mac.varlen == 0 && mac.maxlen == kMacSize)
        return true;
    WriteErrLog(m.LogField(macCell + 1), kErrSettings,
                "tranpak: PktData(F) BMPCell[%d] cannot carry the MAC (type = %d, maxlen = %d, varlen = %d; needs B 8)",
                macCell, mac.type, mac.maxlen, mac.varlen);
    return false;
}

// Packs the fields, the MAC and the head (type and bitmaps as they travel).
int PackDialectMesg(MesgState &m, DesContext &des, const unsigned char *key)
{
    Packet &p = m.packet;
    WireState &ws = m.wireState;
    const WireFormat &f = m.settings.wire;
    // Only the records noted as written since the last clear can be in
    // use (mesg_state.h), so only they are tested: a few, not 126.
    uint64_t used[kCellWords] = {};
    for (int word = 0; word < kCellWords; ++word)
        for (uint64_t bits = m.written.mask[word]; bits != 0; bits &= bits - 1) {
            const int k = std::countr_zero(bits);
            if (m.cells[word * 64 + k].used == 1)
                used[word] |= BitmapBit(k);
        }
    // Fields 64 and 128 carry the MAC: they go last, on their own.
    uint64_t low = used[0] & ~BitmapBit(kMacCell);
    const uint64_t high = used[1] & ~BitmapBit(kMacCell2 - kClassicCellCount);
    const bool secondary = high != 0;
    const int macCell = secondary ? kMacCell2 : kMacCell;
    if (secondary && (low & BitmapBit(0)) != 0) {
        WriteErrLog(m.LogField(1), kErrArgument,
                    "tranpak: PktData(F) BMPCell[0] is the secondary bitmap's bit when fields 65 to 127 are used");
        return -1;
    }
    if (secondary && m.cells[kMacCell].used == 1)
        low |= BitmapBit(kMacCell);
    if (!MacCellCarries(m, macCell))
        return -1;
    int offset = 0;
    for (int word = 0; word < 2; ++word) {
        for (uint64_t rest = word == 0 ? low : high; rest != 0;) {
            const int bit = std::countl_zero(rest);
            rest ^= BitmapBit(bit);
            if (PackDialectField(m, word * kClassicCellCount + bit, &offset) != 0)
                return -1;
        }
    }
    StoreBitmap(secondary ? low | BitmapBit(0) : low | BitmapBit(kMacCell), p.bitmap);
    StoreBitmap(secondary ? high | BitmapBit(kMacCell2 - kClassicCellCount) : 0, p.bitmap2);
    if (!PutMti(f, p.txcode, ws.head)) {
        WriteErrLog(m.LogField(0), kErrArgument, "tranpak: PktData(F) txcode %s cannot travel as the MTI says",
                    p.txcode);
        return -1;
    }
    int headLen = MtiSize(f);
    PutBitmap(f, p.bitmap, ws.head + headLen);
    headLen += BitmapWireSize(f);
    if (secondary) {
        PutBitmap(f, p.bitmap2, ws.head + headLen);
        headLen += BitmapWireSize(f);
    }
    ws.headLen = headLen;
    CalcMacOver(m, des, key, ws.head, headLen, offset, macCell);
    ws.macAt = offset;
    if (PackDialectField(m, macCell, &offset) != 0)
        return -1;
    ws.macCell = macCell;
    ws.dataLen = offset;
    p.len = kLenHeader + offset;
    return 0;
}

}  // namespace

bool UsesDialectCodec(const MesgState &m)
{
    if (m.settings.dialect != 0)
        return true;
    if (m.written.mask[1] == 0)
        return false;
    for (int i = kClassicCellCount; i < kMacCell2; ++i)
        if (m.cells[i].used == 1)
            return true;
    return false;
}

int BuildDialectFrame(MesgState &m, DesContext &des, const unsigned char *key, unsigned char *frame, int size,
                      int *frameLen)
{
    const WireFormat &f = m.settings.wire;
    WireState &ws = m.wireState;
    if (PackDialectMesg(m, des, key) != 0)
        return -1;
    // A TPDU answers the last one received, its destination and source
    // swapped; until one came, it is the configured one.
    unsigned char header[wire::kMaxHeaderSize];
    std::memcpy(header, f.headerBytes, f.headerLen);
    if (f.header == wire::HeaderCode::kTpdu && ws.headerLen == wire::kTpduSize) {
        std::memcpy(header, ws.header, wire::kTpduSize);
        wire::SwapTpdu(header);
    }
    const int head = wire::FrameHeadSize(f);
    const int body = ws.headLen + ws.dataLen;
    // The seed's frame with two bitmaps: no longer than a seed receiver takes.
    if (m.settings.dialect == 0 && body > wire::kMaxPacketLen) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: received packet too long, len = %d", body + wire::kPacketOverhead);
        return -1;
    }
    const int total = head + body + wire::FrameTailSize(f);
    if (total > size) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: frame of %d bytes does not fit %d", total, size);
        return -1;
    }
    if (!wire::PutFrameHead(f, frame, body, header)) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: Packet.len = %d, LENGTH=%s holds at most %d", body,
                    wire::LengthName(f.length), wire::LengthMax(f));
        return -1;
    }
    unsigned char *out = frame + head;
    std::memcpy(out, ws.head, static_cast<size_t>(ws.headLen));
    out += ws.headLen;
    std::memcpy(out, m.packet.data, static_cast<size_t>(ws.dataLen));
    out += ws.dataLen;
    if (f.envelope == wire::EnvelopeCode::kStxEtx)
        *out = wire::kPacketStop;
    ws.dataAt = head + ws.headLen;
    *frameLen = total;
    return 0;
}

int RefuseScan(MesgState &m, const wire::Scan &scan, const unsigned char *frame)
{
    const WireFormat &f = m.settings.wire;
    const int lengthAt = f.envelope == wire::EnvelopeCode::kStxEtx ? 1 : 0;
    switch (scan.fault) {
    case wire::Fault::kStart:
        WriteErrLog(m.LogField(-1, 0), kErrMalformed, "tranpak: Packet.start = 0x%02X", frame[0]);
        break;
    case wire::Fault::kDigits:
        WriteErrLog(m.LogField(-1, lengthAt), kErrMalformed, "tranpak: Packet.len is no %s length",
                    wire::LengthName(f.length));
        break;
    case wire::Fault::kShort:
        WriteErrLog(m.LogField(-1, lengthAt), kErrMalformed, "tranpak: Packet.len = %d, too short", scan.len);
        break;
    case wire::Fault::kLong:
        WriteErrLog(m.LogField(-1, lengthAt), kErrMalformed, "tranpak: Packet.len = %d, too long", scan.len);
        break;
    default:
        WriteErrLog(m.LogField(-1, scan.size > 0 ? scan.size - 1 : -1), kErrMalformed,
                    "tranpak: Packet.stop is not 0x03");
        break;
    }
    return -1;
}

int UnpackDialectFrame(MesgState &m, const unsigned char *frame, int frameLen)
{
    const WireFormat &f = m.settings.wire;
    WireState &ws = m.wireState;
    Packet &p = m.packet;
    ws.dialect = 1;
    ws.macAt = -1;
    ws.macCell = kMacCell;
    const bool envelope = f.envelope == wire::EnvelopeCode::kStxEtx;
    const int head = wire::FrameHeadSize(f), tail = wire::FrameTailSize(f);
    int body = frameLen - head - tail;
    if (f.length != wire::LengthCode::kNone) {
        const wire::Scan scan = wire::ScanDialect(f, frame, frameLen);
        if (scan.status == wire::Status::kBad)
            return RefuseScan(m, scan, frame);
        const int lengthAt = envelope ? 1 : 0;
        if (frameLen < lengthAt + wire::LengthSize(f)) {
            WriteErrLog(m.LogField(-1, lengthAt), kErrMalformed,
                        "tranpak: a frame of %d bytes ends inside its %s length (%d bytes at offset %d)", frameLen,
                        wire::LengthName(f.length), wire::LengthSize(f), lengthAt);
            return -1;
        }
        if (scan.status != wire::Status::kComplete || scan.size != frameLen) {
            const int own = scan.size;
            WriteErrLog(m.LogField(-1, envelope ? 1 : 0), kErrMalformed,
                        "tranpak: the length says a frame of %d bytes, %d came", own, frameLen);
            return -1;
        }
        body = scan.len;
    } else {
        if (body < wire::kMinBody)
            return RefuseAt(m, -1, frameLen, "tranpak: Packet.len = %d, too short", body < 0 ? 0 : body);
        if (envelope && frame[0] != wire::kPacketStart)
            return RefuseAt(m, -1, 0, "tranpak: Packet.start = 0x%02X", frame[0]);
        if (envelope && frame[frameLen - 1] != wire::kPacketStop)
            return RefuseAt(m, -1, frameLen - 1, "tranpak: Packet.stop = 0x%02X", frame[frameLen - 1]);
    }
    p.start = envelope ? frame[0] : wire::kPacketStart;
    p.stop = envelope ? frame[frameLen - 1] : wire::kPacketStop;
    // The header: a static one as configured; a TPDU of the configured id,
    // kept for the reply.
    const int headerAt = (envelope ? 1 : 0) + wire::LengthSize(f);
    if (f.headerLen > 0) {
        const unsigned char *h = frame + headerAt;
        const bool same = f.header == wire::HeaderCode::kTpdu ? h[0] == f.headerBytes[0]
                                                              : std::memcmp(h, f.headerBytes, f.headerLen) == 0;
        if (!same) {
            char got[3 * wire::kMaxHeaderSize + 1], want[3 * wire::kMaxHeaderSize + 1];
            for (int k = 0; k < f.headerLen; ++k) {
                std::snprintf(got + 3 * k, 4, k + 1 < f.headerLen ? "%02X " : "%02X", h[k]);
                std::snprintf(want + 3 * k, 4, k + 1 < f.headerLen ? "%02X " : "%02X", f.headerBytes[k]);
            }
            WriteErrLog(m.LogField(-1, headerAt), kErrMalformed, "tranpak: header at offset %d is %s, expected %s",
                        headerAt, got, want);
            return -1;
        }
    }
    // The type and the bitmaps.
    int at = head;
    const int end = head + body;
    const int mtiSize = MtiSize(f), mapSize = BitmapWireSize(f);
    if (end - at < mtiSize + mapSize)
        return RefuseAt(m, -1, at, "tranpak: Packet.len = %d, too short", body);
    if (TakeMti(m, f, frame + at, at) != 0)
        return -1;
    at += mtiSize;
    if (TakeBitmap(m, f, frame + at, at, p.bitmap) != 0)
        return -1;
    at += mapSize;
    std::memset(p.bitmap2, 0, kBitmapSize);
    bool secondary = AnnouncesSecondary(m, p.bitmap);
    if (secondary) {
        if (end - at < mapSize)
            return RefuseAt(m, 1, at, "tranpak: the secondary bitmap at offset %d is cut short (%d bytes)", at,
                            end - at);
        if (TakeBitmap(m, f, frame + at, at, p.bitmap2) != 0)
            return -1;
        at += mapSize;
        // A secondary bitmap with no bit set is none (some peers always send one).
        secondary = LoadBitmap(p.bitmap2) != 0;
    }
    ws.headLen = at - head;
    std::memcpy(ws.head, frame + head, static_cast<size_t>(ws.headLen));
    ws.dataAt = at;
    const int limit = end - at;
    if (limit > kDataAreaSize)
        return RefuseAt(m, -1, at, "tranpak: Packet.len = %d, too long", body);
    std::memcpy(p.data, frame + at, static_cast<size_t>(limit));
    p.len = kLenHeader + limit;
    ws.dataLen = limit;
    ws.macCell = secondary ? kMacCell2 : kMacCell;
    // The fields whose bits are set: 2 to 64, then 65 to 128.
    int offset = 0;
    const uint64_t low = LoadBitmap(p.bitmap) & ~(AnnouncesSecondary(m, p.bitmap) ? BitmapBit(0) : 0);
    const uint64_t high = secondary ? LoadBitmap(p.bitmap2) : 0;
    for (int word = 0; word < 2; ++word) {
        for (uint64_t rest = word == 0 ? low : high; rest != 0;) {
            const int bit = std::countl_zero(rest);
            rest ^= BitmapBit(bit);
            const int i = word * kClassicCellCount + bit;
            int valueAt = 0;
            if (UnpackDialectField(m, i, p.data, &offset, limit, &valueAt) != 0)
                return -1;
            if (i == ws.macCell)
                ws.macAt = valueAt;
        }
    }
    if (offset != limit)
        return RefuseAt(m, -1, at + offset, "tranpak: the fields end at offset %d, the length says %d", at + offset,
                        end);
    // The header is kept for the reply only once the whole frame was read.
    if (f.headerLen > 0) {
        std::memcpy(ws.header, frame + headerAt, f.headerLen);
        ws.headerLen = f.headerLen;
    }
    return 0;
}

}  // namespace tranpak
