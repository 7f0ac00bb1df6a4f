// Field access: how an application fills and reads the message of a
// message state.
#include "message/cell_access.h"

#include "message/amount.h"
#include "message/numtext.h"
#include "message/text_check.h"
#include "diag/errlog.h"
#include "diag/mask.h"

#include <cstddef>
#include <cstring>

namespace tranpak {
namespace {

// SetCell trims and checks a text value in a working copy: a text value
// has at most 295 characters.
constexpr int kWorkCopySize = 296;

// The classic functions reach fields 1 to 64, the fields of the primary
// bitmap, as they always did; the text functions reach all 128.
bool IsFieldNumber(int n) { return n >= 1 && n <= kClassicCellCount; }

// The field a failure concerns: 0 to 64, or -1 for a number that names none.
int FieldOrNone(int n) { return n >= 0 && n <= kClassicCellCount ? n : -1; }

// Length of a caller's text, looking at no more than limit+1 bytes; -1 when
// it is longer than limit.
int BoundedLength(const char *text, int limit)
{
    for (int i = 0; i <= limit; ++i)
        if (text[i] == '\0')
            return i;
    return -1;
}

int SetTxcode(MesgState &m, const char *value)
{
    if (BoundedLength(value, kTxcodeLen) != kTxcodeLen) {
        WriteErrLog(m.LogField(0), kErrArgument, "tranpak: SetField: txcode is %s", value);
        return -1;
    }
    std::memcpy(m.packet.txcode, value, kTxcodeSize);
    return 0;
}

// The "%.2f" text of the amount without its point, or -1.
int SetAmount(MesgState &m, int index, double value)
{
    char formatted[kAmountTextSize];
    char hundredths[kAmountTextSize];
    if (FormatAmount(value, formatted) < 0) {
        WriteErrLog(m.LogField(index + 1), kErrArgument,
                    "tranpak: SetField BMPCell[%d].buf: amount has over %d characters", index, kAmountTextSize - 1);
        return -1;
    }
    StripDecimalPoint(hundredths, formatted);
    // A refused amount leaves the field as it was, so a message that is
    // sent later never carries it.
    if (!IsNumberText(hundredths)) {
        char shown[kLoggedValueSize];
        WriteErrLog(m.LogField(index + 1), kErrArgument, "tranpak: SetField BMPCell[%d].buf: %s not NF", index,
                    ValueForLog(index + 1, hundredths, static_cast<int>(std::strlen(hundredths)), shown));
        return -1;
    }
    const size_t size = std::strlen(hundredths) + 1;
    NoteCellWrite(m, index, static_cast<int>(size));
    std::memcpy(m.cells[index].buf, hundredths, size);
    return 0;
}

int SetText(MesgState &m, int index, int type, const char *value)
{
    char work[kWorkCopySize];
    int len = BoundedLength(value, kWorkCopySize - 1);
    if (len < 0) {
        WriteErrLog(m.LogField(index + 1), kErrArgument,
                    "tranpak: SetField BMPCell[%d].buf: text has over %d characters", index, kWorkCopySize - 1);
        return -1;
    }
    std::memcpy(work, value, static_cast<size_t>(len) + 1);
    TrimLeft(work);
    TrimRight(work);

    struct Check {
        int (*passes)(const char *);
        const char *name;
    };
    Check check{nullptr, ""};
    if (type == kTypeA)
        check = {IsAlphaText, "A"};
    else if (type == kTypeAN)
        check = {IsAlnumText, "AN"};
    else if (type == kTypeN)
        check = {IsNumberText, "N"};
    else if (type == kTypeZ)
        check = {IsTrack2Text, "Z"};
    if (check.passes != nullptr && !check.passes(work)) {
        char shown[kLoggedValueSize];
        const int len = static_cast<int>(std::strlen(work));
        WriteErrLog(m.LogField(index + 1), kErrArgument, "tranpak: SetField BMPCell[%d].buf: %s not %s", index,
                    type == kTypeZ ? MaskedForLog(work, len, shown) : ValueForLog(index + 1, work, len, shown),
                    check.name);
        return -1;
    }
    const size_t size = std::strlen(work) + 1;
    // A fixed Z travels whole and is never filled.
    const BMPCell &cell = m.cells[index];
    if (type == kTypeZ && cell.varlen == 0 && static_cast<int>(size) - 1 != cell.maxlen) {
        WriteErrLog(m.LogField(index + 1), kErrArgument,
                    "tranpak: SetField BMPCell[%d].buf: %d characters, a fixed Z takes exactly %d", index,
                    static_cast<int>(size) - 1, cell.maxlen);
        return -1;
    }
    NoteCellWrite(m, index, static_cast<int>(size));
    std::memcpy(m.cells[index].buf, work, size);
    return 0;
}

// B values are exactly maxlen raw bytes. A variable B's length is not
// among SetCell's and GetCell's arguments: its value passes as hexadecimal
// text through TpSetCellText and TpGetCellText.
bool BinaryLengthFits(MesgState &m, int index, const char *what)
{
    const BMPCell &cell = m.cells[index];
    if (cell.varlen != 0) {
        WriteErrLog(m.LogField(index + 1), kErrArgument,
                    "tranpak: %s BMPCell[%d] is a variable B, set and read as text (TpSetCellText, TpGetCellText)",
                    what, index);
        return false;
    }
    if (cell.maxlen >= 0 && cell.maxlen <= kBinMaxLen)
        return true;
    WriteErrLog(m.LogField(index + 1), kErrSettings, "tranpak: %s BMPCell[%d].maxlen = %d, over %d", what, index,
                cell.maxlen, kBinMaxLen);
    return false;
}

}  // namespace

int SetCell(MesgState &m, int field, const void *value)
{
    if (value == nullptr) {
        WriteErrLog(m.LogField(FieldOrNone(field)), kErrArgument, "tranpak: SetField(F) field %d value is NULL", field);
        return -1;
    }
    if (field == 0)
        return SetTxcode(m, static_cast<const char *>(value));
    if (!IsFieldNumber(field)) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: SetField(F)_i = %d ", field);
        return -1;
    }
    const int index = field - 1;
    BMPCell &cell = m.cells[index];
    int rc = 0;
    switch (cell.type) {
    case kTypeANS:
    case kTypeA:
    case kTypeAN:
    case kTypeN:
    case kTypeZ:
        rc = SetText(m, index, cell.type, static_cast<const char *>(value));
        break;
    case kTypeNI: {
        int32_t number;
        std::memcpy(&number, value, sizeof number);
        NoteCellWrite(m, index, kIntTextSize);
        IntToText(number, cell.buf);
        break;
    }
    case kTypeNF: {
        double amount;
        std::memcpy(&amount, value, sizeof amount);
        rc = SetAmount(m, index, amount);
        break;
    }
    case kTypeB:
        if (!BinaryLengthFits(m, index, "SetField(F)"))
            return -1;
        NoteCellWrite(m, index, cell.maxlen);
        std::memcpy(cell.buf, value, static_cast<size_t>(cell.maxlen));
        break;
    default:
        WriteErrLog(m.LogField(field), kErrSettings, "tranpak: SetField(F)_BMPCell[%d].type = %d", index, cell.type);
        return -1;
    }
    if (rc != 0)
        return -1;
    cell.used = 1;
    return 0;
}

int GetCell(MesgState &m, int field, void *out)
{
    if (out == nullptr) {
        WriteErrLog(m.LogField(FieldOrNone(field)), kErrArgument, "tranpak: GetField(F) field %d out is NULL", field);
        return -1;
    }
    if (field == 0) {
        std::memcpy(out, m.packet.txcode, kTxcodeSize);
        return 0;
    }
    if (!IsFieldNumber(field)) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: GetField: i = %d\n", field);
        return -1;
    }
    const int index = field - 1;
    const BMPCell &cell = m.cells[index];
    if (cell.used == 0) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: BMPCell[%d] is not used", index);
        return -1;
    }
    switch (cell.type) {
    case kTypeNI: {
        int32_t number = TextToInt(cell.buf);
        std::memcpy(out, &number, sizeof number);
        return 0;
    }
    case kTypeNF: {
        // The stored hundredths get their point back: "1250" is 12.50.
        size_t len = std::strlen(cell.buf);
        if (len < 2 || len > kAmountTextSize - 2) {
            char shown[kLoggedValueSize];
            WriteErrLog(m.LogField(field), kErrArgument,
                        "tranpak: GetField BMPCell[%d].buf: %s not an amount of 2 to %d characters", index,
                        ValueForLog(field, cell.buf, static_cast<int>(len), shown), kAmountTextSize - 2);
            return -1;
        }
        // A sign stays in front of the point, so a signed single digit
        // keeps its sign: "-5" is -0.05, not ".-5".
        char text[kAmountTextSize];
        char *dst = text;
        const char *src = cell.buf;
        if (*src == '+' || *src == '-')
            *dst++ = *src++;
        char padded[3] = {'0', src[0], '\0'};
        if (src[1] == '\0')
            src = padded;
        InsertDecimalPoint(dst, src);
        double amount = TextToDouble(text);
        std::memcpy(out, &amount, sizeof amount);
        return 0;
    }
    case kTypeB:
        if (!BinaryLengthFits(m, index, "GetField(F)"))
            return -1;
        std::memcpy(out, cell.buf, static_cast<size_t>(cell.maxlen));
        return 0;
    default: {
        auto *text = static_cast<char *>(out);
        int len = CellTextLength(cell);
        std::memcpy(text, cell.buf, static_cast<size_t>(len));
        text[len] = '\0';
        return 0;
    }
    }
}

int GetCellType(MesgState &m, int field)
{
    if (field == 0)
        return kTypeANS;
    if (!IsFieldNumber(field))
        return -1;
    return m.cells[field - 1].type;
}

int ResetCell(MesgState &m, int field, int lastField)
{
    if (field < 1 || field > lastField || lastField > kCellCount)
        return -1;
    BMPCell &cell = m.cells[field - 1];
    cell.used = 0;
    cell.binlen = 0;
    std::memset(cell.buf, 0, sizeof cell.buf);
    m.written.mask[(field - 1) / 64] &= ~(uint64_t{1} << ((field - 1) % 64));
    m.written.extent[field - 1] = 0;
    return 0;
}

int ResetMesg(MesgState &m)
{
    Packet &p = m.packet;
    p.start = wire::kPacketStart;
    std::memset(p.bitmap, 0, sizeof p.bitmap);
    std::memset(p.bitmap2, 0, sizeof p.bitmap2);
    p.data[0] = 0;
    p.stop = wire::kPacketStop;
    m.wireState.dialect = 0;
    ClearWrittenCells(m);
    return 0;
}

int BackupMesg(MesgState &m)
{
    m.backup.packet = m.packet;
    std::memcpy(m.backup.cells, m.cells, sizeof m.cells);
    m.backup.written = m.written;
    return 0;
}

int RestoreMesg(MesgState &m)
{
    m.packet = m.backup.packet;
    // Each record as the backup holds it. Past what either side's notes
    // say may be non-zero, both bufs are zero bytes already, so a terminal
    // that restores its template before every request copies its few
    // values and the definitions, not 64 records of 400 bytes, and the
    // next clear has only those values to clear.
    const WrittenCells &saved = m.backup.written;
    WrittenCells &now = m.written;
    constexpr size_t kAfterBuf = sizeof(BMPCell) - offsetof(BMPCell, name);
    for (int i = 0; i < kCellCount; ++i) {
        const uint64_t bit = uint64_t{1} << (i % 64);
        const int nowBytes = (now.mask[i / 64] & bit) != 0 ? now.extent[i] : 0;
        const int savedBytes = (saved.mask[i / 64] & bit) != 0 ? saved.extent[i] : 0;
        BMPCell &cell = m.cells[i];
        const BMPCell &from = m.backup.cells[i];
        std::memcpy(cell.buf, from.buf, static_cast<size_t>(nowBytes > savedBytes ? nowBytes : savedBytes));
        std::memcpy(cell.name, from.name, kAfterBuf);
    }
    now = saved;
    return 0;
}

}  // namespace tranpak
