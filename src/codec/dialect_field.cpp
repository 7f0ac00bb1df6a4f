// One field in a wire dialect (codec/dialect.h): its prefix and value
// written from the record and read back into it.
#include "codec/dialect.h"

#include "codec/packet.h"
#include "diag/errlog.h"
#include "diag/mask.h"
#include "message/numtext.h"

#include <cstring>

namespace tranpak {
namespace {

using wire::WireFormat;

const char *CharsetName(wire::Charset c)
{
    return c == wire::Charset::kEbcdic037 ? "EBCDIC037" : c == wire::Charset::kEbcdic1047 ? "EBCDIC1047" : "ASCII";
}

bool Packed(const FieldCodec &fc, const WireFormat &f)
{
    return f.numbers == wire::NumberCode::kBcd &&
           (fc.content == FieldContent::kNumber || fc.content == FieldContent::kTrack);
}

// --- Writing ---------------------------------------------------------------

[[gnu::cold]] int RefuseRoom(MesgState &m, int i, int offset, int need)
{
    WriteErrLog(m.LogField(i + 1), kErrArgument,
                "tranpak: PktData(F) BMPCell[%d] needs %d bytes, data area has %d left", i, need,
                kDataAreaSize - offset);
    return -1;
}

[[gnu::cold]] int RefuseChar(MesgState &m, int i, const WireFormat &f, unsigned char c)
{
    WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: PktData(F) BMPCell[%d] character 0x%02X has no %s code", i,
                c, CharsetName(f.charset));
    return -1;
}

// Characters of text into out in the charset; false at one it has none for.
bool PutChars(const WireFormat &f, unsigned char *out, const char *text, int count, unsigned char *bad)
{
    for (int k = 0; k < count; ++k) {
        const int b = wire::EncodeChar(f.charset, static_cast<unsigned char>(text[k]));
        if (b < 0) {
            *bad = static_cast<unsigned char>(text[k]);
            return false;
        }
        out[k] = static_cast<unsigned char>(b);
    }
    return true;
}

// The nibble of a character of a number or of track 2 data.
int NibbleOf(char c, bool first)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c == '=' || c == 'D')
        return 0xD;
    if (first && c == '+')
        return 0xC;
    if (first && c == '-')
        return 0xD;
    return -1;
}

// count characters as nibbles, two a byte, an odd count led by a 0 nibble.
bool PutBcd(unsigned char *out, const char *text, int count)
{
    const int pad = count % 2;
    for (int k = 0; k < count + pad; ++k) {
        const int nibble = k < pad ? 0 : NibbleOf(text[k - pad], k == pad);
        if (nibble < 0)
            return false;
        if ((k & 1) == 0)
            out[k / 2] = static_cast<unsigned char>(nibble << 4);
        else
            out[k / 2] = static_cast<unsigned char>(out[k / 2] | nibble);
    }
    return true;
}

void PutPrefix(const FieldCodec &fc, const WireFormat &f, unsigned char *out, int len)
{
    const int size = DialectPrefixSize(fc, f);
    switch (f.prefix) {
    case wire::PrefixCode::kText:
        for (int k = fc.prefixDigits - 1; k >= 0; --k, len /= 10)
            out[k] =
                static_cast<unsigned char>(wire::EncodeChar(f.charset, static_cast<unsigned char>('0' + len % 10)));
        return;
    case wire::PrefixCode::kBcd:
        for (int k = size - 1; k >= 0; --k, len /= 100)
            out[k] = static_cast<unsigned char>((len / 10 % 10) << 4 | len % 10);
        return;
    case wire::PrefixCode::kBinary:
        for (int k = size - 1; k >= 0; --k, len >>= 8)
            out[k] = static_cast<unsigned char>(len);
        return;
    }
}

// The greatest value a prefix can carry.
int PrefixMax(const FieldCodec &fc, const WireFormat &f)
{
    if (f.prefix == wire::PrefixCode::kBinary) {
        const int bytes = DialectPrefixSize(fc, f);
        return bytes >= 3 ? 0xFFFFFF : (1 << (8 * bytes)) - 1;
    }
    int max = 1;
    for (int k = 0; k < fc.prefixDigits && max < 100000000; ++k)
        max *= 10;
    return max - 1;
}

// The value of record i as the wire takes it: its characters (a fixed
// number filled with '0' on the left, a fixed text with blanks on the
// right) or its bytes; *count receives how many.
const char *ValueOf(MesgState &m, int i, const FieldCodec &fc, char work[kCellBufSize], int *count)
{
    const BMPCell &cell = m.cells[i];
    if (fc.content == FieldContent::kBinary) {
        *count = CellBinaryLength(cell);
        return cell.buf;
    }
    const int len = CellTextLength(cell);
    *count = len;
    if (fc.prefix != PrefixKind::kNone || len >= fc.maxlen || fc.pad == FieldPad::kNone)
        return cell.buf;
    WriteFixedValue(fc, work, cell.buf, len);
    *count = fc.maxlen;
    return work;
}

}  // namespace

int DialectPrefixSize(const FieldCodec &fc, const WireFormat &f)
{
    if (fc.prefix == PrefixKind::kNone)
        return 0;
    return f.prefix == wire::PrefixCode::kText ? fc.prefixDigits : (fc.prefixDigits + 1) / 2;
}

int DialectValueSize(const FieldCodec &fc, const WireFormat &f, int count)
{
    if (fc.content == FieldContent::kBinary)
        return f.binary == wire::BinaryCode::kHex ? 2 * count : count;
    if (Packed(fc, f))
        return (count + 1) / 2;
    return count;
}

int PackDialectField(MesgState &m, int i, int *offset)
{
    const BMPCell &cell = m.cells[i];
    const WireFormat &f = m.settings.wire;
    if (cell.varlen == 0 && cell.maxlen == 0) {
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
    char work[kCellBufSize];
    int count = 0;
    const char *value = ValueOf(m, i, fc, work, &count);
    if (count > fc.maxlen) {
        WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: PktData(F) BMPCell[%d].maxlen = %d, len = %d", i,
                    cell.maxlen, count);
        return -1;
    }
    if (fc.prefix == PrefixKind::kNone && count != fc.maxlen) {
        // A fixed track 2 field is sent whole: no filling keeps it readable.
        WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: PktData(F) BMPCell[%d] len = %d, the field is %d", i,
                    count, fc.maxlen);
        return -1;
    }
    if (fc.prefix != PrefixKind::kNone && count > PrefixMax(fc, f)) {
        WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: PktData(F) BMPCell[%d].varlen = %d, len = %d", i,
                    cell.varlen, count);
        return -1;
    }
    const int prefix = DialectPrefixSize(fc, f);
    const int size = DialectValueSize(fc, f, count);
    if (prefix + size > kDataAreaSize - *offset)
        return RefuseRoom(m, i, *offset, prefix + size);
    unsigned char *out = m.packet.data + *offset;
    if (prefix > 0)
        PutPrefix(fc, f, out, count);
    out += prefix;
    unsigned char bad = 0;
    if (fc.content == FieldContent::kBinary) {
        if (f.binary == wire::BinaryCode::kRaw) {
            std::memcpy(out, value, static_cast<size_t>(count));
        } else {
            for (int k = 0; k < count; ++k)
                wire::PutHexByte(f.charset, static_cast<unsigned char>(value[k]), out + 2 * k);
        }
    } else if (Packed(fc, f)) {
        if (!PutBcd(out, value, count)) {
            char shown[kLoggedValueSize];
            WriteErrLog(m.LogField(i + 1), kErrArgument, "tranpak: PktData(F) BMPCell[%d].buf = %s, not BCD digits", i,
                        ValueForLog(i + 1, value, count, shown));
            return -1;
        }
    } else if (!PutChars(f, out, value, count, &bad)) {
        return RefuseChar(m, i, f, bad);
    }
    *offset += prefix + size;
    return 0;
}

// --- Reading ---------------------------------------------------------------

namespace {

[[gnu::cold]] int RefuseCut(MesgState &m, int i, int at, int need, int limit)
{
    if (at >= limit)
        WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + at), kErrMalformed,
                    "tranpak: BMPCell[%d] bit set, no data at offset %d", i, m.wireState.dataAt + at);
    else
        WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + at), kErrMalformed,
                    "tranpak: BMPCell[%d] needs %d bytes at offset %d, received data has %d", i, need, at, limit);
    return -1;
}

[[gnu::cold]] int RefuseNibble(MesgState &m, int i, int at, int nibble)
{
    WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + at), kErrMalformed,
                "tranpak: BMPCell[%d] BCD nibble %X at offset %d", i, nibble, m.wireState.dataAt + at);
    return -1;
}

[[gnu::cold]] int RefuseByte(MesgState &m, int i, int at, unsigned char b, const char *what)
{
    WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + at), kErrMalformed,
                "tranpak: BMPCell[%d] byte 0x%02X at offset %d is no %s character", i, b, m.wireState.dataAt + at,
                what);
    return -1;
}

// The prefix at in, into *len; -1 (logged) when a digit is none.
int ReadPrefix(MesgState &m, int i, const FieldCodec &fc, const WireFormat &f, const unsigned char *in, int at,
               int *len)
{
    const int size = DialectPrefixSize(fc, f);
    int64_t v = 0;
    switch (f.prefix) {
    case wire::PrefixCode::kText:
        for (int k = 0; k < size; ++k) {
            const int c = wire::DecodeChar(f.charset, in[k]);
            if (c < '0' || c > '9') {
                char text[kIntTextSize] = {};
                for (int j = 0; j < size && j < kIntTextSize - 1; ++j) {
                    const int d = wire::DecodeChar(f.charset, in[j]);
                    text[j] = d > 0x20 && d < 0x7F ? static_cast<char>(d) : '?';
                }
                WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + at), kErrMalformed,
                            "tranpak: BMPCell[%d] len prefix %s not number", i, text);
                return -1;
            }
            v = v * 10 + (c - '0');
        }
        break;
    case wire::PrefixCode::kBcd:
        for (int k = 0; k < size; ++k) {
            const int hi = in[k] >> 4, lo = in[k] & 0xF;
            if (hi > 9)
                return RefuseNibble(m, i, at + k, hi);
            if (lo > 9)
                return RefuseNibble(m, i, at + k, lo);
            v = v * 100 + hi * 10 + lo;
        }
        break;
    case wire::PrefixCode::kBinary:
        for (int k = 0; k < size; ++k)
            v = v << 8 | in[k];
        break;
    }
    *len = v > INT32_MAX ? INT32_MAX : static_cast<int>(v);
    return 0;
}

}  // namespace

int UnpackDialectField(MesgState &m, int i, const unsigned char *data, int *offset, int limit, int *valueAt)
{
    BMPCell &cell = m.cells[i];
    const WireFormat &f = m.settings.wire;
    const int at = *offset;
    if (!CellDefinitionFits(cell)) {
        WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + at), kErrSettings,
                    "tranpak: BMPCell[%d] bad definition (maxlen = %d, varlen = %d)", i, cell.maxlen, cell.varlen);
        return -1;
    }
    if (cell.maxlen == 0 && cell.varlen == 0) {
        WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + at), kErrMalformed, "tranpak: BMPCell[%d] undefined", i);
        return -1;
    }
    const FieldCodec fc = FieldCodecOf(cell);
    const int prefix = DialectPrefixSize(fc, f);
    int count = fc.maxlen;
    if (prefix > 0) {
        if (prefix > limit - at)
            return RefuseCut(m, i, at, prefix, limit);
        if (ReadPrefix(m, i, fc, f, data + at, at, &count) != 0)
            return -1;
        if (count > fc.maxlen) {
            WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + at), kErrMalformed,
                        "tranpak: BMPCell[%d] len = %d, too long", i, count);
            return -1;
        }
    }
    const int size = DialectValueSize(fc, f, count);
    if (size > limit - at - prefix)
        return RefuseCut(m, i, at, prefix + size, limit);
    const int vat = at + prefix;
    const unsigned char *in = data + vat;
    const bool text = fc.content != FieldContent::kBinary;
    NoteCellWrite(m, i, text ? count + 1 : count);
    if (fc.content == FieldContent::kBinary) {
        if (f.binary == wire::BinaryCode::kRaw) {
            std::memcpy(cell.buf, in, static_cast<size_t>(count));
        } else {
            for (int k = 0; k < count; ++k) {
                int bad = 0;
                const int byte = wire::TakeHexByte(f.charset, in + 2 * k, &bad);
                if (byte < 0)
                    return RefuseByte(m, i, vat + 2 * k + bad, in[2 * k + bad], "hexadecimal");
                cell.buf[k] = static_cast<char>(byte);
            }
        }
        cell.binlen = prefix > 0 ? count : 0;
    } else if (Packed(fc, f)) {
        const int pad = count % 2;
        if (pad != 0 && (in[0] >> 4) != 0) {
            WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + vat), kErrMalformed,
                        "tranpak: BMPCell[%d] %d digits, the pad nibble %X at offset %d is not 0", i, count, in[0] >> 4,
                        m.wireState.dataAt + vat);
            return -1;
        }
        for (int k = pad; k < count + pad; ++k) {
            const int nibble = (k & 1) == 0 ? in[k / 2] >> 4 : in[k / 2] & 0xF;
            const bool first = k == pad;
            char c;
            if (nibble <= 9)
                c = static_cast<char>('0' + nibble);
            else if (fc.content == FieldContent::kTrack && nibble == 0xD)
                c = '=';
            else if (first && fc.content == FieldContent::kNumber && (nibble == 0xC || nibble == 0xD))
                c = nibble == 0xC ? '+' : '-';
            else
                return RefuseNibble(m, i, vat + k / 2, nibble);
            cell.buf[k - pad] = c;
        }
        cell.buf[count] = '\0';
    } else {
        for (int k = 0; k < count; ++k) {
            const int c = wire::DecodeChar(f.charset, in[k]);
            if (c < 0)
                return RefuseByte(m, i, vat + k, in[k], CharsetName(f.charset));
            if (c == 0) {
                WriteErrLog(m.LogField(i + 1, m.wireState.dataAt + vat + k), kErrMalformed,
                            "tranpak: BMPCell[%d].buf holds a NUL byte at %d", i, k);
                return -1;
            }
            cell.buf[k] = static_cast<char>(c);
        }
        cell.buf[count] = '\0';
    }
    // A number read from BCD nibbles is digits after an optional sign
    // already, which is all its content check asks.
    const bool checked = fc.content == FieldContent::kNumber && Packed(fc, f);
    if (text && !checked && CheckCellContent(m, i, m.wireState.dataAt + vat) != 0)
        return -1;
    cell.used = 1;
    *valueAt = vat;
    *offset = vat + size;
    return 0;
}

}  // namespace tranpak
