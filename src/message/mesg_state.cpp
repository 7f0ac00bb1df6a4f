#include "message/mesg_state.h"

#include <bit>

namespace tranpak {

namespace {
constexpr int kShortClear = 32;
static_assert(kShortClear <= kCellBufSize);
}  // namespace

namespace {

// The records of one word of the notes, word 0 holding records 0 to 63.
inline void ClearWord(MesgState &m, int word)
{
    WrittenCells &w = m.written;
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
    w.mask[word] = 0;
}

}  // namespace

void ClearWrittenCells(MesgState &m)
{
    static_assert(kCellWords == 2);
    ClearWord(m, 0);
    // Fields 65 to 128 are rare: one test when none was written.
    if (m.written.mask[1] != 0)
        ClearWord(m, 1);
}

}  // namespace tranpak
