#include "codec/bitmap.h"
#include "codec/field_codec.h"
#include "codec/mac.h"
#include "codec/packet.h"
#include "diag/errlog.h"
#include "diag/mask.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

namespace tranpak {
namespace {

// Refuses a field that would not fit the rest of the data area.
bool Fits(MesgState &m, int i, int offset, int need)
{
    if (need <= kDataAreaSize - offset)
        return true;
    WriteErrLog(m.LogField(i + 1), kErrArgument,
                "tranpak: PktData(F) BMPCell[%d] needs %d bytes, data area has %d left", i, need,
                kDataAreaSize - offset);
    return false;
}

// The bitmap word of fields 1 to 63 that are used, one test per record
// written out, so that the unused ones cost a compare and a jump each.
template <size_t... I>
uint64_t UsedBits(const MesgState &m, std::index_sequence<I...>)
{
    uint64_t bits = 0;
    ((m.cells[I].used == 1 ? static_cast<void>(bits |= BitmapBit(I)) : static_cast<void>(0)), ...);
    return bits;
}

int PackFixed(MesgState &m, int i, const FieldCodec &fc, int *offset)
{
    const BMPCell &cell = m.cells[i];
    char *out = reinterpret_cast<char *>(m.packet.data) + *offset;
    // Binary values are maxlen raw bytes; text and numbers end at the NUL.
    const int len = fc.content == FieldContent::kBinary ? fc.maxlen : CellTextLength(cell);
    if (len > fc.maxlen) {
        char shown[kLoggedValueSize];
        WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: BMPCell[%d].buf = %.*s, too long", i, len,
                    ValueForLog(i + 1, cell.buf, len, shown));
        return -1;
    }
    if (fc.pad == FieldPad::kNone && len != fc.maxlen) {
        // A fixed track 2 field is sent whole: no filling keeps it readable.
        WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: PktData(F) BMPCell[%d] len = %d, the field is %d", i,
                    len, fc.maxlen);
        return -1;
    }
    if (!Fits(m, i, *offset, fc.maxlen))
        return -1;
    WriteFixedValue(fc, out, cell.buf, len);
    *offset += fc.maxlen;
    return 0;
}

int PackVariable(MesgState &m, int i, const FieldCodec &fc, int *offset)
{
    const BMPCell &cell = m.cells[i];
    // Text ends at its NUL; a B value's bytes may hold 0x00, so it has its count.
    const int len = fc.content == FieldContent::kBinary ? CellBinaryLength(cell) : CellTextLength(cell);
    if (len > fc.maxlen) {
        WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: PktData(F) BMPCell[%d].maxlen = %d, len = %d", i,
                    cell.maxlen, len);
        return -1;
    }
    int digits = 0;
    if (!PrefixFits(fc, len, &digits)) {
        WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: PktData(F) BMPCell[%d].varlen = %d, len = %d", i,
                    cell.varlen, digits);
        return -1;
    }
    const int prefix = PrefixSize(fc);
    if (!Fits(m, i, *offset, prefix + len))
        return -1;
    char *out = reinterpret_cast<char *>(m.packet.data) + *offset;
    WritePrefix(fc, out, len);
    std::memcpy(out + prefix, cell.buf, static_cast<size_t>(len));
    *offset += prefix + len;
    return 0;
}

}  // namespace

int PadRight(char *dst, int width, const char *src)
{
    int len = static_cast<int>(std::strlen(src));
    std::memmove(dst, src, static_cast<size_t>(len));
    for (; len < width; ++len)
        dst[len] = ' ';
    dst[len] = '\0';
    return 0;
}

int PktData(MesgState &m, int i, int *offset)
{
    const BMPCell &cell = m.cells[i];
    // A field the definitions do not list has no encoding: its bit would
    // go out with no bytes behind it, which no peer can read.
    if (cell.varlen == 0 && cell.maxlen == 0 && i != kMacCell) {
        WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: BMPCell[%d] undefined", i);
        return -1;
    }
    if (!CellDefinitionFits(cell)) {
        WriteErrLog(m.LogField(i + 1), kErrSettings,
                    "tranpak: PktData(F) BMPCell[%d] bad definition (type = %d, maxlen = %d, varlen = %d)", i,
                    cell.type, cell.maxlen, cell.varlen);
        return -1;
    }
    const FieldCodec fc = FieldCodecOf(cell);
    return fc.prefix == PrefixKind::kNone ? PackFixed(m, i, fc, offset) : PackVariable(m, i, fc, offset);
}

int PackMesg(MesgState &m, DesContext &des, const unsigned char key[kMacSize])
{
    // The MAC travels as field 64's eight raw bytes at the very end of the
    // data area; any other definition of field 64 (text, which a 0x00 of
    // the MAC would cut, another length, or none) sends a MAC that no peer
    // can verify.
    const BMPCell &mac = m.cells[kMacCell];
    if (mac.type != kTypeB || mac.varlen != 0 || mac.maxlen != kMacSize) {
        WriteErrLog(
            m.LogField(kMacCell + 1), kErrSettings,
            "tranpak: PktData(F) BMPCell[%d] cannot carry the MAC (type = %d, maxlen = %d, varlen = %d; needs B 8)",
            kMacCell, mac.type, mac.maxlen, mac.varlen);
        return -1;
    }
    Packet &p = m.packet;
    const uint64_t bits = UsedBits(m, std::make_index_sequence<kMacCell>{});
    int offset = 0;
    for (uint64_t rest = bits; rest != 0;) {
        const int i = std::countl_zero(rest);
        rest ^= BitmapBit(i);
        if (PktData(m, i, &offset) != 0) {
            // The bitmap is as far as packing got: fields up to this one
            // as they are now, the later ones as they were.
            const uint64_t later = BitmapBit(i) - 1;
            StoreBitmap((bits & ~later) | (LoadBitmap(p.bitmap) & later), p.bitmap);
            return -1;
        }
    }
    // Field 64 always goes last and always carries the MAC of what precedes
    // it: the bitmap, its bit set, is in place first for a MAC that covers it.
    StoreBitmap(bits | BitmapBit(kMacCell), p.bitmap);
    CalcMac(m, des, key, offset);
    if (PktData(m, kMacCell, &offset) != 0)
        return -1;
    p.len = offset + kLenHeader;
    return 0;
}

int BuildPacket(MesgState &m, DesContext &des, unsigned char frame[kFrameBufSize], const unsigned char key[kMacSize],
                int *frameLen)
{
    if (PackMesg(m, des, key) != 0)
        return -1;
    const Packet &p = m.packet;
    *frameLen = p.len + kFrameOverhead;
    if (*frameLen >= kFrameBufSize) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: received packet too long, len = %d", *frameLen);
        return -1;
    }
    // The start and stop bytes are the message's own, as Init8583 and
    // ResetMesg set them (or as a failed receive left them).
    unsigned char *out = frame;
    *out++ = p.start;
    // len is at most 2041 here, so four digits hold it.
    wire::PutDigits(out, p.len);
    out += wire::kLenDigits;
    std::memcpy(out, p.txcode, kTxcodeLen);
    out += kTxcodeLen;
    std::memcpy(out, p.bitmap, kBitmapSize);
    out += kBitmapSize;
    std::memcpy(out, p.data, static_cast<size_t>(p.len - kLenHeader));
    out += p.len - kLenHeader;
    *out = p.stop;
    return 0;
}

}  // namespace tranpak
