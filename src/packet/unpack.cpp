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
    WriteErrLog("tranpak: BMPCell[%d] needs %d bytes at offset %d, received data has %d", i, need, offset, limit);
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
    const BMPCell &cell = g_mesg.cells[i];
    switch (cell.type) {
    case kTypeANS:
    case kTypeB:
        return 0;
    case kTypeNI:
        if (IsNumberText(cell.buf))
            return 0;
        WriteErrLog("tranpak: BMPCell[%d].buf: %s not number(NI)", i, cell.buf);
        return -1;
    case kTypeNF:
        if (IsNumberText(cell.buf))
            return 0;
        WriteErrLog("tranpak: BMPCell[%d].buf: %s not number(NF)", i, cell.buf);
        return -1;
    case kTypeA:
        if (IsAlphaText(cell.buf))
            return 0;
        WriteErrLog("tranpak: BMPCell[%d].buf: %s not alpha(A)", i, cell.buf);
        return -1;
    case kTypeAN:
        if (IsAlnumText(cell.buf))
            return 0;
        WriteErrLog("tranpak: BMPCell[%d].buf: %s not alpha or number(AN)", i, cell.buf);
        return -1;
    case kTypeN:
        if (IsNumberText(cell.buf))
            return 0;
        WriteErrLog("tranpak: BMPCell[%d].buf: %s not number(N)", i, cell.buf);
        return -1;
    default:
        WriteErrLog("tranpak: BMPCell[%d].type = %c", i, cell.type);
        return -1;
    }
}

int UnpackCell(int i, const unsigned char *src, int *offset, int limit)
{
    BMPCell &cell = g_mesg.cells[i];
    const int textLimit = cell.type == kTypeB ? kBinMaxLen : kTextMaxLen;
    if (cell.maxlen < 0 || cell.maxlen > textLimit || cell.varlen < 0 || cell.varlen > kMaxVarLen) {
        WriteErrLog("tranpak: BMPCell[%d] bad definition (maxlen = %d, varlen = %d)", i, cell.maxlen, cell.varlen);
        return -1;
    }
    int count = cell.maxlen;
    int prefix = 0;
    if (cell.varlen == 0) {
        if (cell.maxlen == 0) {
            WriteErrLog("tranpak: BMPCell[%d] undefined", i);
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
                WriteErrLog("tranpak: BMPCell[%d] len prefix %s not number", i, digits);
                return -1;
            }
        }
        count = TextToInt(digits);
        if (count > cell.maxlen) {
            WriteErrLog("tranpak: BMPCell[%d] len = %d, too long", i, count);
            return -1;
        }
    }
    if (!WithinData(i, *offset, prefix + count, limit))
        return -1;
    StoreValue(cell, src + *offset + prefix, count);
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
