#include "message/mesg_state.h"

#include <bit>

namespace tranpak {

namespace {
constexpr int kShortClear = 32;
static_assert(kShortClear <= kCellBufSize);
}  // namespace

void ClearWrittenCells(MesgState &m)
{
    WrittenCells &w = m.written;
    for (int word = 0; word < kCellWords; ++word)
        for (uint64_t bits = w.mask[word]; bits != 0; bits &= bits - 1) {
            const int i = word * 64 + std::countr_zero(bits);
            BMPCell &cell = m.cells[i];
            cell.used = 0;
            cell.binlen = 0;
            // Bytes from extent on are zero already, so a short value is
            // cleared with one fixed-size store of kShortClear bytes.
            if (w.extent[i] <= kShortClear)
                std::memset(cell.buf, 0, kShortClear);
            else
                std::memset(cell.buf, 0, w.extent[i]);
            w.extent[i] = 0;
        }
    std::memset(w.mask, 0, sizeof w.mask);
}

}  // namespace tranpak
