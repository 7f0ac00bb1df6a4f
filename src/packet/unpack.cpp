#include "core/numtext.h"
#include "core/text_check.h"
#include "diag/errlog.h"
#include "packet/bitmap.h"
#include "packet/packet.h"

#include <cstring>

namespace tranpak {
namespace {

// Refuses a field that runs past the received data.
bool WithinData(int i, int offset, int need, int limit)
{
    if (need <= limit - offset)
        return true;
    WriteErrLog(kErrMalformed, "tranpak: BMPCell[%d] needs %d bytes at offset %d, received data has %d", i, need, offset, limit);
    return false;
}

// Copies count bytes into the record's buf; text values get a NUL.
void StoreValue(BMPCell &cell, const unsigned char *src, int count)
{
    std::memcpy(cell.buf, src, static_cast<size_t>(count));
    if (cell.type != kTypeB)
        cell.buf[count] = '\0';
}

}  // namespace

int CheckCellContent(int i)
{
    // The test of each text type, and the name it has in the message.
    struct ContentRule {
        int type;
        int (*passes)(const char *);
        const char *what;
    };
    static constexpr ContentRule kRules[] = {
        {kTypeNI, IsNumberText, "number(NI)"}, {kTypeNF, IsNumberText, "number(NF)"},
        {kTypeA, IsAlphaText, "alpha(A)"},     {kTypeAN, IsAlnumText, "alpha or number(AN)"},
        {kTypeN, IsNumberText, "number(N)"},
    };
    const BMPCell &cell = g_mesg.cells[i];
    if (cell.type == kTypeANS || cell.type == kTypeB)
        return 0;
    for (const ContentRule &rule : kRules) {
        if (rule.type != cell.type)
            continue;
        if (rule.passes(cell.buf))
            return 0;
        WriteErrLog(kErrMalformed, "tranpak: BMPCell[%d].buf: %s not %s", i, cell.buf, rule.what);
        return -1;
    }
    WriteErrLog(kErrSettings, "tranpak: BMPCell[%d].type = %c", i, cell.type);
    return -1;
}

int UnpackCell(int i, const unsigned char *src, int *offset, int limit)
{
    BMPCell &cell = g_mesg.cells[i];
    const int textLimit = cell.type == kTypeB ? kBinMaxLen : kTextMaxLen;
    if (cell.maxlen < 0 || cell.maxlen > textLimit || cell.varlen < 0 || cell.varlen > kMaxVarLen) {
        WriteErrLog(kErrSettings, "tranpak: BMPCell[%d] bad definition (maxlen = %d, varlen = %d)", i, cell.maxlen, cell.varlen);
        return -1;
    }
    int count = cell.maxlen;
    int prefix = 0;
    if (cell.varlen == 0) {
        if (cell.maxlen == 0) {
            WriteErrLog(kErrMalformed, "tranpak: BMPCell[%d] undefined", i);
            return -1;
        }
    } else {
        prefix = cell.varlen;
        if (!WithinData(i, *offset, prefix, limit))
            return -1;
        char digits[kIntTextSize] = {};
        std::memcpy(digits, src + *offset, static_cast<size_t>(prefix));
        // The prefix is digits only: a blank, a sign or any other
        // character means the message is not framed as its definition says.
        for (int k = 0; k < prefix; ++k) {
            if (!IsCDigit(digits[k])) {
                WriteErrLog(kErrMalformed, "tranpak: BMPCell[%d] len prefix %s not number", i, digits);
                return -1;
            }
        }
        count = TextToInt(digits);
        if (count > cell.maxlen) {
            WriteErrLog(kErrMalformed, "tranpak: BMPCell[%d] len = %d, too long", i, count);
            return -1;
        }
    }
    if (!WithinData(i, *offset, prefix + count, limit))
        return -1;
    StoreValue(cell, src + *offset + prefix, count);
    // A text value ends at its NUL: one inside would make the rest of the
    // field unreadable and the value read as something else.
    if (cell.type != kTypeB) {
        if (const void *nul = std::memchr(src + *offset + prefix, 0, static_cast<size_t>(count))) {
            WriteErrLog(kErrMalformed, "tranpak: BMPCell[%d].buf holds a NUL byte at %d", i,
                        static_cast<int>(static_cast<const unsigned char *>(nul) - (src + *offset + prefix)));
            return -1;
        }
    }
    if (CheckCellContent(i) != 0)
        return -1;
    cell.used = 1;
    *offset += prefix + count;
    return 0;
}

int UnpackMesg()
{
    const Packet &p = g_mesg.packet;
    int limit = p.len - kLenHeader;
    if (limit < 0)
        limit = 0;
    if (limit > kDataAreaSize)
        limit = kDataAreaSize;
    int offset = 0;
    for (int i = 0; i < kCellCount; ++i)
        if (TestBit(p.bitmap, i) && UnpackCell(i, p.data, &offset, limit) != 0)
            return -1;
    return 0;
}

}  // namespace tranpak
