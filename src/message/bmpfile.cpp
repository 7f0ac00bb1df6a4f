#include "message/bmpfile.h"

#include "message/mesg_state.h"
#include "message/numtext.h"
#include "diag/errlog.h"
#include "os/os.h"

#include <cstdio>
#include <cstring>

namespace tranpak {
namespace {

constexpr int kItemCount = 4;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits the line in place into at most four blank-separated items and
// returns how many it found; anything after the fourth is a remark.
int SplitItems(char *line, char *items[kItemCount])
{
    int count = 0;
    char *p = line;
    while (count < kItemCount) {
        while (IsBlank(*p))
            ++p;
        if (*p == '\0')
            break;
        items[count++] = p;
        while (*p != '\0' && !IsBlank(*p))
            ++p;
        if (*p != '\0')
            *p++ = '\0';
    }
    return count;
}

// The whole text is an optionally signed decimal number.
bool IsWholeNumber(const char *text, int *value)
{
    LeadingNumber n = ReadLeadingNumber(text);
    *value = n.value;
    return n.found && *n.end == '\0';
}

struct TypeName {
    const char *text;
    int code;
};

// The type names as a detail lists them.
constexpr char kTypeList[] = "ANS, NI, NF, A, AN, N, B, Z";

// The type text of a B field whose value is a BER-TLV list.
constexpr char kTlvTypeText[] = "TLV";

constexpr TypeName kTypeNames[] = {
    {"ANS", kTypeANS}, {"NI", kTypeNI}, {"NF", kTypeNF}, {"A", kTypeA},
    {"AN", kTypeAN},   {"N", kTypeN},   {"B", kTypeB},   {"Z", kTypeZ},
};

// A record the definitions list: a line gave it a length.
bool Defined(const BMPCell &cell) { return cell.maxlen != 0 || cell.varlen != 0; }

// Bit 1 of the bitmap announces the secondary bitmap, so field 1 cannot
// carry data in a layout that has any of fields 65 to 128. The lines may
// come in any order, so this is checked once the whole file is read.
int CheckFieldOne(MesgState &m)
{
    if (!Defined(m.cells[0]))
        return 0;
    for (int i = kClassicCellCount; i < kCellCount; ++i) {
        if (!Defined(m.cells[i]))
            continue;
        WriteErrLog(m.LogField(1).Detail(ErrDetail("definitions %s: field 1 is defined, and field %d needs the "
                                                   "secondary bitmap whose bit is bit 1",
                                                   m.settings.bmpfile, i + 1)),
                    kErrSettings, "tranpak: ReadBMPFile() field 1 is the secondary bitmap's bit (field %d defined)",
                    i + 1);
        return -1;
    }
    return 0;
}

}  // namespace

int StripLineEnd(char *text)
{
    text[std::strcspn(text, "\r\n")] = '\0';
    return 0;
}

int InitCellType(MesgState &m, const char *text, int field, int line)
{
    for (const TypeName &t : kTypeNames)
        if (std::strcmp(text, t.text) == 0)
            return t.code;
    WriteErrLog(m.LogField(field).Detail(ErrDetail("definitions %s line %d: type \"%s\" is not one of %s",
                                                   m.settings.bmpfile, line, text, kTypeList),
                                         0, line),
                kErrSettings, "tranpak: celltype define error (type:%s)", text);
    return -1;
}

int InitCellLen(MesgState &m, int index, const char *text, int line)
{
    const char *file = m.settings.bmpfile;
    BMPCell &cell = m.cells[index];
    // A failing definition leaves the field undefined rather than holding
    // a length of an earlier line, or one that no buffer could serve.
    cell.maxlen = 0;
    cell.varlen = 0;
    LeadingNumber first = ReadLeadingNumber(text);
    if (!first.found) {
        WriteErrLog(m.LogField(index + 1).Detail(
                        ErrDetail("definitions %s line %d: length \"%s\" is not a number", file, line, text), 0, line),
                    kErrSettings, "tranpak: InitCellLen() celllen define format error (%d %s)", index, text);
        return -1;
    }
    LeadingNumber second{0, false, first.end};
    if (*first.end == ',')
        second = ReadLeadingNumber(first.end + 1);

    if (second.found && (first.value < 0 || second.value < 0)) {
        WriteErrLog(m.LogField(index + 1).Detail(
                        ErrDetail("definitions %s line %d: length \"%s\" is negative", file, line, text), 0, line),
                    kErrSettings,
                    "tranpak: InitCellLen() cell define error (BMPCell[%d]maxlen = %d, BMPCell[%d]varlen = %d)", index,
                    first.value, index, second.value);
        return -1;
    }
    if (!second.found && first.value < 0) {
        WriteErrLog(m.LogField(index + 1).Detail(
                        ErrDetail("definitions %s line %d: length \"%s\" is negative", file, line, text), 0, line),
                    kErrSettings, "tranpak: InitCellLen() cell define error (BMPCell[%d]maxlen = %d)", index,
                    first.value);
        return -1;
    }
    int limit = cell.type == kTypeB ? kBinMaxLen : kTextMaxLen;
    if (first.value > limit) {
        WriteErrLog(
            m.LogField(index + 1).Detail(ErrDetail("definitions %s line %d: length %d is over %d, the most a field "
                                                   "of its type holds",
                                                   file, line, first.value, limit),
                                         0, line),
            kErrSettings, "tranpak: InitCellLen() cell define error (BMPCell[%d]maxlen = %d, over %d)", index,
            first.value, limit);
        return -1;
    }
    if (second.found && second.value > kMaxVarLen) {
        WriteErrLog(
            m.LogField(index + 1).Detail(ErrDetail("definitions %s line %d: length prefix of %d digits is over %d",
                                                   file, line, second.value, kMaxVarLen),
                                         0, line),
            kErrSettings, "tranpak: InitCellLen() cell define error (BMPCell[%d]varlen = %d, over %d)", index,
            second.value, kMaxVarLen);
        return -1;
    }
    cell.maxlen = first.value;
    cell.varlen = second.found ? second.value : 0;
    return 0;
}

int InitOntCell(MesgState &m, char *line, int lineNo)
{
    const char *file = m.settings.bmpfile;
    char *items[kItemCount] = {};
    int count = SplitItems(line, items);
    if (count == 0)
        return 0;  // only blanks: nothing to define
    if (count < kItemCount) {
        WriteErrLog(
            m.Log().Detail(ErrDetail("definitions %s line %d: %d of the 4 items (name, type, length, field number)",
                                     file, lineNo, count),
                           0, lineNo),
            kErrSettings, "tranpak: InitOntCell() cell define incomplete (items = %d)", count);
        return -1;
    }
    const char *name = items[0], *type = items[1], *len = items[2], *posText = items[3];

    int nameLen = static_cast<int>(std::strlen(name));
    if (nameLen > kMaxNameLen) {
        WriteErrLog(m.Log().Detail(ErrDetail("definitions %s line %d: name of %d characters, at most %d", file, lineNo,
                                             nameLen, kMaxNameLen),
                                   0, lineNo),
                    kErrSettings, "tranpak: InitOntCell() cellname too long (len = %d)", nameLen);
        return -1;
    }
    int typeLen = static_cast<int>(std::strlen(type));
    if (typeLen > kMaxTypeLen) {
        WriteErrLog(m.Log().Detail(ErrDetail("definitions %s line %d: type \"%s\" is not one of %s", file, lineNo, type,
                                             kTypeList),
                                   0, lineNo),
                    kErrSettings, "tranpak: InitOntCell() celltype too long (len = %d)", typeLen);
        return -1;
    }
    int lenLen = static_cast<int>(std::strlen(len));
    if (lenLen > kMaxLenItemLen) {
        WriteErrLog(m.Log().Detail(ErrDetail("definitions %s line %d: length item of %d characters, at most %d", file,
                                             lineNo, lenLen, kMaxLenItemLen),
                                   0, lineNo),
                    kErrSettings, "tranpak: InitOntCell() celllen too long (len = %d)", lenLen);
        return -1;
    }
    int pos = 0;
    if (!IsWholeNumber(posText, &pos)) {
        WriteErrLog(m.Log().Detail(
                        ErrDetail("definitions %s line %d: field number \"%s\" is not a number", file, lineNo, posText),
                        0, lineNo),
                    kErrSettings, "tranpak: InitOntCell() cellpos not number (pos = %s)", posText);
        return -1;
    }
    if (pos > kCellCount || pos < 1) {
        WriteErrLog(m.Log().Detail(ErrDetail("definitions %s line %d: field number %d is not 1 to %d", file, lineNo,
                                             pos, kCellCount),
                                   0, lineNo),
                    kErrSettings, "tranpak: InitOntCell() cellpos error (pos = %d)", pos);
        return -1;
    }

    int index = pos - 1;
    BMPCell &cell = m.cells[index];
    std::memcpy(cell.name, name, static_cast<size_t>(nameLen) + 1);
    // TLV: a B field whose bytes are a BER-TLV list (field 55's chip data),
    // read and sent as B, described tag by tag.
    const bool tlv = std::strcmp(type, kTlvTypeText) == 0;
    const uint64_t tlvBit = uint64_t{1} << (index % 64);
    m.tlvFields[index / 64] = tlv ? m.tlvFields[index / 64] | tlvBit : m.tlvFields[index / 64] & ~tlvBit;
    cell.type = tlv ? kTypeB : InitCellType(m, type, pos, lineNo);
    if (cell.type == -1) {
        // No length of an earlier line for this field stays with a type
        // that was refused.
        cell.maxlen = 0;
        cell.varlen = 0;
        return -1;
    }
    return InitCellLen(m, index, len, lineNo);
}

int ReadBMPFile(MesgState &m)
{
    // Only a regular file is read: a device or a pipe could keep the
    // reader waiting or reading forever.
    os::LineFile f;
    if (os::LineFileOpen(f, m.settings.bmpfile) != 0) {
        int error = 0;
        char why[os::kErrorTextSize] = "not a regular file";
        if (os::ProbeReadable(m.settings.bmpfile, &error) <= 0)
            os::ErrorText(error, why, sizeof why);
        WriteErrLog(m.Log().Detail(ErrDetail("definitions %s: %s", m.settings.bmpfile, why), error), kErrSettings,
                    "tranpak: ReadBMPFile() open BMPfile fail");
        return -1;
    }
    char line[kBmpLineSize];
    bool atEnd = false;
    // The line a piece belongs to: a line longer than a piece comes in
    // several.
    int lineNo = 0;
    bool lineStarts = true;
    while (!atEnd && os::LineFileGets(f, line, sizeof line) > 0) {
        if (lineStarts)
            ++lineNo;
        lineStarts = std::strchr(line, '\n') != nullptr;
        // The file is read as Windows' C runtime reads text: a byte 0x1A
        // ends it, on every platform.
        if (char *eof = static_cast<char *>(std::memchr(line, kEndOfText, std::strlen(line)))) {
            *eof = '\0';
            atEnd = true;
        }
        char *p = line;
        while (IsBlank(*p))
            ++p;
        if (*p == '\n' || *p == '\0' || *p == '#')
            continue;
        StripLineEnd(p);
        if (InitOntCell(m, p, lineNo) != 0) {
            os::LineFileClose(f);
            return -1;
        }
    }
    os::LineFileClose(f);
    return CheckFieldOne(m);
}

}  // namespace tranpak
