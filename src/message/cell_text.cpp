// Text access to fields of every type. Values are parsed and checked whole
// before anything is stored, so a refused text leaves the field as it was.
#include "message/cell_text.h"

#include "message/amount.h"
#include "message/numtext.h"
#include "message/text_check.h"
#include "diag/errlog.h"
#include "diag/mask.h"

#include <cstdint>
#include <cstring>

namespace tranpak {
namespace {

constexpr const char *kTypeNames[] = {"ANS", "NI", "NF", "A", "AN", "N", "B", "Z"};
// What a refusal of a text calls each text type.
constexpr const char *kTypeRefused[] = {"ANS", "NI", "NF", "A", "AN", "N", "B", "Z (digits and one '=' or 'D')"};

// A text value before trimming: at most 399 characters, as buf holds.
constexpr int kWorkSize = kCellBufSize;
// Decimals an amount's text may give.
constexpr int kAmountDecimals = 2;
// Hundredths of an amount, as SetCell stores them: the "%.2f" text of at
// most 39 characters without its point.
constexpr int kHundredthsMax = kAmountTextSize - 2;

bool IsFieldNumber(int n) { return n >= 1 && n <= kCellCount; }

// Length of a caller's text, looking at no more than limit+1 bytes; -1 when
// it is longer than limit.
int BoundedLength(const char *text, int limit)
{
    for (int i = 0; i <= limit; ++i)
        if (text[i] == '\0')
            return i;
    return -1;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Stores len bytes as record i's value and marks it used.
void Store(MesgState &m, int i, const char *value, int len)
{
    NoteCellWrite(m, i, len);
    std::memcpy(m.cells[i].buf, value, static_cast<size_t>(len));
    m.cells[i].used = 1;
}

// A caller's text as a log line may show it.
const char *Logged(int field, const char *text, char shown[kLoggedValueSize])
{
    return ValueForLog(field, text, static_cast<int>(std::strlen(text)), shown);
}

// The same for a value of type `type`: track 2 data is card data in
// whichever field it is.
const char *LoggedOfType(int field, int type, const char *text, char shown[kLoggedValueSize])
{
    return type == kTypeZ ? MaskedForLog(text, static_cast<int>(std::strlen(text)), shown) : Logged(field, text, shown);
}

// The most characters a field's value can travel with: a fixed field's
// length; a variable field's greatest length, or what its prefix digits
// count to when that is less.
int TravelMax(const BMPCell &cell)
{
    if (cell.varlen == 0)
        return cell.maxlen;
    int64_t counted = 1;
    for (int k = 0; k < cell.varlen; ++k)
        counted *= 10;
    return counted - 1 < cell.maxlen ? static_cast<int>(counted - 1) : cell.maxlen;
}

// Whether a value as stored, len characters, can travel in the field;
// false, with the line logged naming the field and its maximum, when it
// cannot (packing would refuse it). number: the caller's text of an NI or
// NF value, shown in the line; nullptr for the text types.
bool Travels(MesgState &m, int field, const char *stored, int len, const char *number)
{
    const int most = TravelMax(m.cells[field - 1]);
    if (len <= most)
        return true;
    if (number == nullptr) {
        WriteErrLog(
            m.LogField(field).Detail(ErrDetail("field %d: %d characters, the field holds %d", field, len, most)),
            kErrArgument, "tranpak: TpSetCellText() field %d: %d characters, the field holds %d", field, len, most);
        return false;
    }
    char shown[kLoggedValueSize];
    const char *logged = Logged(field, number, shown);
    const bool sign = stored[0] == '-';
    const char *unit = sign ? "characters with its sign" : "digits";
    WriteErrLog(m.LogField(field).Detail(
                    ErrDetail("field %d: %s needs %d %s, the field holds %d", field, logged, len, unit, most)),
                kErrArgument, "tranpak: TpSetCellText() field %d: %s needs %d %s, the field holds %d", field, logged,
                len, unit, most);
    return false;
}

int SetTxcodeText(MesgState &m, const char *text)
{
    if (BoundedLength(text, kTxcodeLen) != kTxcodeLen) {
        WriteErrLog(m.LogField(0), kErrArgument,
                    "tranpak: TpSetCellText() field 0: message type %.*s is not 4 characters", kErrMesgSize, text);
        return -1;
    }
    std::memcpy(m.packet.txcode, text, kTxcodeSize);
    return 0;
}

// ANS, A, AN, N and Z: trimmed and checked as SetCell does. A fixed Z
// travels whole, never filled, so it takes exactly maxlen characters.
int SetPlainText(MesgState &m, int field, int type, const char *text)
{
    char work[kWorkSize];
    const int len = BoundedLength(text, kWorkSize - 1);
    if (len < 0) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: text has over %d characters",
                    field, kWorkSize - 1);
        return -1;
    }
    std::memcpy(work, text, static_cast<size_t>(len) + 1);
    TrimLeft(work);
    TrimRight(work);
    const bool passes = type == kTypeA    ? IsAlphaText(work)
                        : type == kTypeAN ? IsAlnumText(work)
                        : type == kTypeN  ? IsNumberText(work)
                        : type == kTypeZ  ? IsTrack2Text(work)
                                          : true;
    if (!passes) {
        char shown[kLoggedValueSize];
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: %s is not %s", field,
                    LoggedOfType(field, type, work, shown), kTypeRefused[type]);
        return -1;
    }
    const int workLen = static_cast<int>(std::strlen(work));
    if (!Travels(m, field, work, workLen, nullptr))
        return -1;
    const BMPCell &cell = m.cells[field - 1];
    if (type == kTypeZ && cell.varlen == 0 && workLen != cell.maxlen) {
        WriteErrLog(m.LogField(field).Detail(
                        ErrDetail("field %d: %d characters, a fixed Z takes exactly %d", field, workLen, cell.maxlen)),
                    kErrArgument, "tranpak: TpSetCellText() field %d: %d characters, a fixed Z takes exactly %d", field,
                    workLen, cell.maxlen);
        return -1;
    }
    Store(m, field - 1, work, workLen + 1);
    return 0;
}

// An optional sign and digits that fit 32 bits, nothing else.
int SetIntegerText(MesgState &m, int field, const char *text)
{
    const char *p = text;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    const char *digits = p;
    int64_t magnitude = 0;
    const int64_t cap = int64_t{INT32_MAX} + 2;  // beyond either limit
    for (; IsCDigit(*p); ++p)
        if ((magnitude = magnitude * 10 + (*p - '0')) > cap)
            magnitude = cap;
    char shown[kLoggedValueSize];
    if (p == digits || *p != '\0') {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: %s is not a decimal integer",
                    field, Logged(field, text, shown));
        return -1;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: %s is outside %d to %d", field,
                    Logged(field, text, shown), INT32_MIN, INT32_MAX);
        return -1;
    }
    char stored[kIntTextSize];
    const int len = IntToText(static_cast<int32_t>(value), stored);
    if (!Travels(m, field, stored, len, text))
        return -1;
    Store(m, field - 1, stored, len + 1);
    return 0;
}

// An optional sign, digits, and an optional point with one or two
// decimals; stored as hundredths the way SetCell stores the same amount:
// "12.5" and "0012.50" as "1250", "-0.07" as "-007", "-0" as "000".
int SetAmountText(MesgState &m, int field, const char *text)
{
    const char *p = text;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    const char *whole = p;
    while (IsCDigit(*p))
        ++p;
    const char *wholeEnd = p;
    const char *decimals = p;
    int decimalCount = 0;
    if (*p == '.') {
        decimals = ++p;
        while (IsCDigit(*p))
            ++p;
        decimalCount = static_cast<int>(p - decimals);
    }
    char shown[kLoggedValueSize];
    const char *logged = Logged(field, text, shown);
    if (whole == wholeEnd || *p != '\0' || (decimals != wholeEnd && decimalCount == 0)) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: %s is not an amount", field,
                    logged);
        return -1;
    }
    if (decimalCount > kAmountDecimals) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: %s has more than %d decimals",
                    field, logged, kAmountDecimals);
        return -1;
    }
    while (wholeEnd - whole > 1 && *whole == '0')
        ++whole;
    const int wholeLen = static_cast<int>(wholeEnd - whole);
    char digits[kHundredthsMax + 1];
    const bool zero = std::strspn(whole, "0") >= static_cast<size_t>(wholeLen) &&
                      std::strspn(decimals, "0") >= static_cast<size_t>(decimalCount);
    const int signLen = negative && !zero ? 1 : 0;
    const int len = signLen + wholeLen + kAmountDecimals;
    if (len > kHundredthsMax) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: amount has over %d digits",
                    field, kHundredthsMax - signLen - kAmountDecimals);
        return -1;
    }
    char *out = digits;
    if (signLen != 0)
        *out++ = '-';
    std::memcpy(out, whole, static_cast<size_t>(wholeLen));
    out += wholeLen;
    for (int k = 0; k < kAmountDecimals; ++k)
        *out++ = k < decimalCount ? decimals[k] : '0';
    *out = '\0';
    if (!Travels(m, field, digits, len, text))
        return -1;
    Store(m, field - 1, digits, len + 1);
    return 0;
}

// Hexadecimal digits, either case, two a byte: exactly 2 x maxlen of them
// for a fixed B; for a variable B, as many bytes as the field can travel
// with (maxlen, or what its prefix digits count to when that is less).
int SetBinaryText(MesgState &m, int field, const char *text)
{
    BMPCell &cell = m.cells[field - 1];
    const bool variable = cell.varlen != 0;
    const int maxlen = cell.maxlen;
    const int len = BoundedLength(text, variable ? 2 * kBinMaxLen : 2 * maxlen);
    if (variable && (len < 0 || len % 2 != 0)) {
        WriteErrLog(m.LogField(field), kErrArgument,
                    "tranpak: TpSetCellText() field %d: B takes hexadecimal digits in pairs, at most %d of them", field,
                    2 * maxlen);
        return -1;
    }
    if (!variable && len != 2 * maxlen) {
        WriteErrLog(m.LogField(field), kErrArgument,
                    "tranpak: TpSetCellText() field %d: B takes exactly %d hexadecimal digits, not %s", field,
                    2 * maxlen, len < 0 ? "more" : "fewer");
        return -1;
    }
    const int count = len / 2;
    char bytes[kBinMaxLen];
    for (int k = 0; k < count; ++k) {
        const int high = HexDigit(text[2 * k]), low = HexDigit(text[2 * k + 1]);
        if (high < 0 || low < 0) {
            WriteErrLog(m.LogField(field), kErrArgument,
                        "tranpak: TpSetCellText() field %d: character %d is not a hexadecimal digit", field,
                        2 * k + (high < 0 ? 0 : 1) + 1);
            return -1;
        }
        bytes[k] = static_cast<char>(high * 16 + low);
    }
    const int most = TravelMax(cell);
    if (count > most) {
        WriteErrLog(m.LogField(field).Detail(ErrDetail("field %d: %d bytes, the field holds %d", field, count, most)),
                    kErrArgument, "tranpak: TpSetCellText() field %d: %d bytes, the field holds %d", field, count,
                    most);
        return -1;
    }
    Store(m, field - 1, bytes, count);
    cell.binlen = variable ? count : 0;
    return 0;
}

constexpr char kHex[] = "0123456789ABCDEF";

// Whether a stored integer (an optional sign and digits, as unpacking
// checks them) has a digit and is within 32 bits. A received "99999999999"
// or "-" is no such number: read as one it would come out as the nearest
// limit or 0, a value never sent.
bool IsInt32Text(const char *stored)
{
    const char *p = stored;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    const int64_t limit = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
    int64_t magnitude = 0;
    const char *digits = p;
    for (; IsCDigit(*p); ++p)
        if ((magnitude = magnitude * 10 + (*p - '0')) > limit)
            return false;
    return p != digits;
}

// Stored hundredths as an amount with a point and two decimals: "1250" is
// "12.50", "-7" is "-0.07", "+0001250" is "12.50", "-000" is "0.00".
int AmountText(const char *stored, char out[kCellTextSize])
{
    const char *p = stored;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    // At least one digit: a received "" or "-" is no amount, not 0.00.
    if (*p == '+' || *p == '-' || *p == '\0' || !IsNumberText(p))
        return -1;
    while (*p == '0')
        ++p;
    const int len = static_cast<int>(std::strlen(p));
    // At least one digit before the point and two after it.
    const int width = len > kAmountDecimals ? len : kAmountDecimals + 1;
    char *o = out;
    if (negative && len > 0)
        *o++ = '-';
    for (int k = 0; k < width; ++k) {
        if (k == width - kAmountDecimals)
            *o++ = '.';
        *o++ = k < width - len ? '0' : p[k - (width - len)];
    }
    *o = '\0';
    return static_cast<int>(o - out);
}

}  // namespace

const char *CellTypeName(int type) { return type >= kTypeANS && type <= kTypeZ ? kTypeNames[type] : nullptr; }

int CellText(const MesgState &m, int field, char out[kCellTextSize])
{
    if (field == 0) {
        const int len = BoundedTextLength(m.packet.txcode, kTxcodeLen);
        std::memcpy(out, m.packet.txcode, static_cast<size_t>(len));
        out[len] = '\0';
        return len;
    }
    if (!IsFieldNumber(field) || m.cells[field - 1].used == 0)
        return -1;
    const BMPCell &cell = m.cells[field - 1];
    switch (cell.type) {
    case kTypeNI:
        return IsInt32Text(cell.buf) ? IntToText(TextToInt(cell.buf), out) : -1;
    case kTypeNF:
        return AmountText(cell.buf, out);
    case kTypeB: {
        const int bytes = CellBinaryLength(cell);
        if (cell.maxlen < 0 || cell.maxlen > kBinMaxLen || bytes < 0 || bytes > cell.maxlen)
            return -1;
        for (int k = 0; k < bytes; ++k) {
            const unsigned char c = static_cast<unsigned char>(cell.buf[k]);
            out[2 * k] = kHex[c >> 4];
            out[2 * k + 1] = kHex[c & 0x0F];
        }
        out[2 * bytes] = '\0';
        return 2 * bytes;
    }
    default: {
        const int len = CellTextLength(cell);
        std::memcpy(out, cell.buf, static_cast<size_t>(len));
        out[len] = '\0';
        return len;
    }
    }
}

int SetCellText(MesgState &m, int field, const char *text)
{
    if (field < 0 || field > kCellCount) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpSetCellText() field %d: no such field", field);
        return -1;
    }
    if (text == nullptr) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: text is NULL", field);
        return -1;
    }
    if (field == 0)
        return SetTxcodeText(m, text);
    const BMPCell &cell = m.cells[field - 1];
    if (!CellDefined(cell)) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpSetCellText() field %d: not in the field definitions",
                    field);
        return -1;
    }
    if (!CellDefinitionFits(cell)) {
        WriteErrLog(m.LogField(field), kErrSettings,
                    "tranpak: TpSetCellText() field %d: bad definition (type = %d, maxlen = %d, varlen = %d)", field,
                    cell.type, cell.maxlen, cell.varlen);
        return -1;
    }
    switch (cell.type) {
    case kTypeNI:
        return SetIntegerText(m, field, text);
    case kTypeNF:
        return SetAmountText(m, field, text);
    case kTypeB:
        return SetBinaryText(m, field, text);
    default:
        return SetPlainText(m, field, cell.type, text);
    }
}

int GetCellText(MesgState &m, int field, char *text, int size)
{
    if (field < 0 || field > kCellCount) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpGetCellText() field %d: no such field", field);
        return -1;
    }
    if (text == nullptr) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpGetCellText() field %d: text is NULL", field);
        return -1;
    }
    if (field != 0 && m.cells[field - 1].used == 0) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpGetCellText() field %d is not in use", field);
        return -1;
    }
    char value[kCellTextSize];
    const int len = CellText(m, field, value);
    if (len < 0) {
        const BMPCell &cell = m.cells[field - 1];
        char shown[kLoggedValueSize];
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpGetCellText() field %d: stored %s is not %s", field,
                    ValueForLog(field, cell.buf, CellTextLength(cell), shown),
                    cell.type == kTypeNI   ? "a 32-bit integer"
                    : cell.type == kTypeNF ? "an amount"
                                           : "bytes of its length");
        return -1;
    }
    if (len + 1 > size) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpGetCellText() field %d needs %d bytes, size is %d",
                    field, len + 1, size);
        return -1;
    }
    std::memcpy(text, value, static_cast<size_t>(len) + 1);
    return 0;
}

}  // namespace tranpak
