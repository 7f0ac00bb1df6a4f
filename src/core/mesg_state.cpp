#include "core/mesg_state.h"

namespace tranpak {

MesgState g_mesg;

bool CellDefinitionFits(const BMPCell &cell)
{
    if (cell.type < kTypeANS || cell.type > kTypeB)
        return false;
    int limit = cell.type == kTypeB ? kBinMaxLen : kTextMaxLen;
    return cell.maxlen >= 0 && cell.maxlen <= limit && cell.varlen >= 0 && cell.varlen <= kMaxVarLen;
}

int CellTextLength(const BMPCell &cell)
{
    int len = 0;
    while (len < kTextMaxLen && cell.buf[len] != '\0')
        ++len;
    return len;
}

}  // namespace tranpak
