// Describing the message: every value goes through ShowValue, so card data
// is masked and no byte a host sent can break a line or a JSON string.
#include "message/describe.h"
#include "message/tlv.h"

#include "message/cell_text.h"
#include "diag/errlog.h"
#include "diag/mask.h"

#include <cstring>

namespace tranpak {
namespace {

// A field in use that the definitions do not list has no type to name.
constexpr const char *kUndefinedType = "undefined";
// Headings of the text form, and the width of its field column.
constexpr const char *kFieldHeading = "field";
constexpr const char *kNameHeading = "name";
constexpr const char *kTypeHeading = "type";
constexpr int kFieldColumn = 5;
// "128" and a NUL.
constexpr int kFieldNumberSize = 4;

// Tags of a TLV field start under the value column's heading.
constexpr int kTlvIndent = 8;

const char *TypeShown(const BMPCell &cell)
{
    if (!CellDefined(cell))
        return kUndefinedType;
    const char *name = CellTypeName(cell.type);
    return name != nullptr ? name : "?";
}

int NameLength(const BMPCell &cell) { return BoundedTextLength(cell.name, kCellNameSize - 1); }

// How long a text is once shown.
int ShownLength(const char *text, int len)
{
    TextSink measure{nullptr, 0, 0};
    ShowValue(measure, 0, MaskRule::kNone, text, len);
    return measure.len;
}

void Pad(TextSink &sink, int count)
{
    for (int k = 0; k < count; ++k)
        sink.Put(' ');
}

void FieldNumber(int field, char out[kFieldNumberSize])
{
    int n = 0;
    if (field >= 100)
        out[n++] = static_cast<char>('0' + field / 100);
    if (field >= 10)
        out[n++] = static_cast<char>('0' + field / 10 % 10);
    out[n++] = static_cast<char>('0' + field % 10);
    out[n] = '\0';
}

struct Columns {
    int name;
    int type;
};

Columns ColumnWidths(const MesgState &m)
{
    Columns w{static_cast<int>(std::strlen(kNameHeading)), static_cast<int>(std::strlen(kTypeHeading))};
    for (int i = 0; i < kCellCount; ++i) {
        const BMPCell &cell = m.cells[i];
        if (cell.used == 0)
            continue;
        const int name = ShownLength(cell.name, NameLength(cell));
        const int type = static_cast<int>(std::strlen(TypeShown(cell)));
        w.name = name > w.name ? name : w.name;
        w.type = type > w.type ? type : w.type;
    }
    return w;
}

// The value of field (0 to 128) as shown; a stored text that is not a
// number of its type is shown as stored. Track 2 data (Z) is card data in
// whichever field it is, so it is masked where card fields are.
// The hex of a TLV field with the hex digits of its card data's values
// as '*' but the last four of each, as its tag lines show them; a list
// with a fault hides all but its last four digits, since where card data
// lies in it cannot be told.
void MaskTlvHex(const MesgState &m, int i, char *hex, int hexLen)
{
    const BMPCell &cell = m.cells[i];
    TlvWalker walk(reinterpret_cast<const unsigned char *>(cell.buf), CellBinaryLength(cell));
    TlvItem item;
    int got = 0;
    while ((got = walk.Next(item)) == 1) {
        if (!TlvTagIsCardData(item.tag))
            continue;
        const int from = 2 * item.valueOffset, to = 2 * (item.valueOffset + item.len) - 4;
        for (int k = from; k < to && k < hexLen; ++k)
            hex[k] = '*';
    }
    if (got < 0)
        for (int k = 0; k < hexLen - 4; ++k)
            hex[k] = '*';
}

void PutValue(TextSink &sink, const MesgState &m, int field, MaskRule rule)
{
    if (rule == MaskRule::kCardFields && field != 0 && m.cells[field - 1].type == kTypeZ)
        rule = MaskRule::kAlways;
    char value[kCellTextSize];
    int len = CellText(m, field, value);
    const char *text = value;
    if (len < 0) {
        text = m.cells[field - 1].buf;
        len = CellTextLength(m.cells[field - 1]);
    } else if (rule != MaskRule::kNone && field != 0 && IsTlvField(m, field - 1)) {
        MaskTlvHex(m, field - 1, value, len);
    }
    ShowValue(sink, field, rule, text, len);
}

void PutText(TextSink &sink, const MesgState &m, MaskRule rule)
{
    const Columns w = ColumnWidths(m);
    sink.Put("type ");
    PutValue(sink, m, 0, rule);
    sink.Put('\n');
    sink.Put(kFieldHeading);
    sink.Put("  ");
    sink.Put(kNameHeading);
    Pad(sink, w.name - static_cast<int>(std::strlen(kNameHeading)) + 2);
    sink.Put(kTypeHeading);
    Pad(sink, w.type - static_cast<int>(std::strlen(kTypeHeading)) + 2);
    sink.Put("value\n");
    for (int i = 0; i < kCellCount; ++i) {
        const BMPCell &cell = m.cells[i];
        if (cell.used == 0)
            continue;
        char number[kFieldNumberSize];
        FieldNumber(i + 1, number);
        Pad(sink, kFieldColumn - static_cast<int>(std::strlen(number)));
        sink.Put(number);
        sink.Put("  ");
        const int nameLen = NameLength(cell);
        ShowValue(sink, i + 1, MaskRule::kNone, cell.name, nameLen);
        Pad(sink, w.name - ShownLength(cell.name, nameLen) + 2);
        const char *type = TypeShown(cell);
        sink.Put(type);
        Pad(sink, w.type - static_cast<int>(std::strlen(type)) + 2);
        PutValue(sink, m, i + 1, rule);
        sink.Put('\n');
        // A TLV list's tags under its hex, one a line; a list with a fault
        // puts nothing and stays hex only.
        TlvFault fault;
        if (IsTlvField(m, i))
            PutTlvList(sink, reinterpret_cast<const unsigned char *>(cell.buf), CellBinaryLength(cell), rule, false,
                       kTlvIndent, fault);
    }
}

void PutJson(TextSink &sink, const MesgState &m, MaskRule rule)
{
    sink.Raw("{\"type\": \"");
    sink.json = true;
    PutValue(sink, m, 0, rule);
    sink.json = false;
    sink.Raw("\", \"fields\": {");
    bool first = true;
    for (int i = 0; i < kCellCount; ++i) {
        const BMPCell &cell = m.cells[i];
        if (cell.used == 0)
            continue;
        char number[kFieldNumberSize];
        FieldNumber(i + 1, number);
        sink.Raw(first ? "\"" : ", \"");
        sink.Raw(number);
        sink.Raw("\": {\"name\": \"");
        sink.json = true;
        ShowValue(sink, i + 1, MaskRule::kNone, cell.name, NameLength(cell));
        sink.json = false;
        sink.Raw("\", \"type\": \"");
        sink.Raw(TypeShown(cell));
        sink.Raw("\", \"value\": \"");
        sink.json = true;
        PutValue(sink, m, i + 1, rule);
        sink.json = false;
        sink.Raw("\"");
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(cell.buf);
        TlvFault fault;
        if (IsTlvField(m, i) && CheckTlv(bytes, CellBinaryLength(cell), fault) == 0) {
            sink.Raw(", \"tags\": ");
            PutTlvList(sink, bytes, CellBinaryLength(cell), rule, true, 0, fault);
        }
        sink.Raw("}");
        first = false;
    }
    sink.Raw("}}");
}

void Put(TextSink &sink, const MesgState &m, int flags)
{
    const MaskRule rule = (flags & TP_DESCRIBE_UNMASKED) != 0 ? MaskRule::kNone : MaskRule::kCardFields;
    if ((flags & TP_DESCRIBE_JSON) != 0)
        PutJson(sink, m, rule);
    else
        PutText(sink, m, rule);
}

}  // namespace

int Describe(MesgState &m, int flags, char *out, int size, int *outLen)
{
    if ((flags & ~kDescribeFlags) != 0) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpDescribe() flags 0x%X: unknown flags",
                    static_cast<unsigned>(flags));
        return -1;
    }
    TextSink measure{nullptr, 0, 0};
    Put(measure, m, flags);
    if (outLen != nullptr)
        *outLen = measure.len;
    // No room and a place for the length: the caller only asks how long
    // (as snprintf with NULL and 0), which is no failure to log.
    if (out == nullptr && size == 0 && outLen != nullptr)
        return 0;
    if (out == nullptr || measure.len + 1 > size) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpDescribe() needs %d bytes, size is %d%s", measure.len + 1, size,
                    out == nullptr ? " and out is NULL" : "");
        return -1;
    }
    out[0] = '\0';
    TextSink sink{out, size, 0};
    Put(sink, m, flags);
    return 0;
}

int ShowValueText(int field, int flags, const char *value, int len, char *out, int size, int *outLen)
{
    const bool unmasked = (flags & TP_DESCRIBE_UNMASKED) != 0, always = (flags & TP_SHOW_MASKED) != 0;
    if ((flags & ~kShowFlags) != 0 || (unmasked && always) || len < 0 || (value == nullptr && len > 0))
        return -1;
    const MaskRule rule = unmasked ? MaskRule::kNone : always ? MaskRule::kAlways : MaskRule::kCardFields;
    TextSink measure{nullptr, 0, 0};
    ShowValue(measure, field, rule, value, len);
    if (outLen != nullptr)
        *outLen = measure.len;
    if (out == nullptr || measure.len + 1 > size)
        return -1;
    out[0] = '\0';
    TextSink sink{out, size, 0};
    ShowValue(sink, field, rule, value, len);
    return 0;
}

int DescribeCell(MesgState &m, int field, int flags, char *out, int size, int *outLen)
{
    if (field < 0 || field > kCellCount || (flags & ~TP_DESCRIBE_UNMASKED) != 0 ||
        (field != 0 && m.cells[field - 1].used == 0)) {
        WriteErrLog(m.LogField(field >= 0 && field <= kCellCount ? field : -1), kErrArgument,
                    "tranpak: TpDescribeCell() field %d: not in use, or flags 0x%X unknown", field,
                    static_cast<unsigned>(flags));
        return -1;
    }
    const MaskRule rule = (flags & TP_DESCRIBE_UNMASKED) != 0 ? MaskRule::kNone : MaskRule::kCardFields;
    TextSink measure{nullptr, 0, 0};
    PutValue(measure, m, field, rule);
    if (outLen != nullptr)
        *outLen = measure.len;
    if (out == nullptr && size == 0 && outLen != nullptr)
        return 0;
    if (out == nullptr || measure.len + 1 > size) {
        WriteErrLog(m.LogField(field), kErrArgument, "tranpak: TpDescribeCell() needs %d bytes, size is %d",
                    measure.len + 1, size);
        return -1;
    }
    out[0] = '\0';
    TextSink sink{out, size, 0};
    PutValue(sink, m, field, rule);
    return 0;
}

}  // namespace tranpak
