// SetCell and GetCell for every type with arbitrary texts, bytes and
// doubles, then packing and unpacking what was set. Each operation takes
// a field byte, an operation byte and as many value bytes as it needs.
#include "api/session.h"
#include "message/mesg_state.h"
#include "fuzz_support.h"
#include "codec/packet.h"
#include "tranpak.h"

#include <cmath>
#include <cstring>

using namespace tranpak;

namespace {

struct Reader {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    bool Take(void *out, size_t n)
    {
        if (size - pos < n)
            return false;
        std::memcpy(out, data + pos, n);
        pos += n;
        return true;
    }
};

// ResetMesg leaves no record used or holding a byte, whatever the inputs
// before this one left.
void RequireCleared()
{
    static const char zeros[kCellBufSize] = {};
    for (const BMPCell &cell : DefaultMesg().cells)
        fuzz::Require(cell.used == 0 && std::memcmp(cell.buf, zeros, sizeof zeros) == 0,
                      "ResetMesg leaves every record empty");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (fuzz::InitWithDefinitions(fuzz::kEveryTypeDefinitions), true);
    (void)ready;
    ResetMesg();
    RequireCleared();
    Reader in{data, size};
    uint8_t fieldByte, op;
    while (in.Take(&fieldByte, 1) && in.Take(&op, 1)) {
        // Fields -2 to 67: the valid ones and a few on each side.
        int field = fieldByte % 70 - 2;
        // Every value sits in room enough for any type's reading of it (a
        // double given to a text field is read up to a NUL, as a caller's
        // mistake would be), zero-filled behind it.
        unsigned char value[kCellBufSize + 16] = {};
        switch (op % 8) {
        case 0: {  // a text: bytes up to a NUL or the end, at most 320
            uint8_t len = 0;
            in.Take(&len, 1);
            size_t n = len + 64u;
            if (n > in.size - in.pos)
                n = in.size - in.pos;
            in.Take(value, n);
            SetCell(field, value);
            break;
        }
        case 1: {
            in.Take(value, sizeof(int32_t));
            SetCell(field, value);
            break;
        }
        case 2: {
            in.Take(value, sizeof(double));
            if (SetCell(field, value) == 0 && field > 0 && GetCellType(field) == kTypeNF) {
                double back = NAN;
                fuzz::Require(GetCell(field, &back) == 0 && std::isfinite(back), "a stored amount reads back");
            }
            break;
        }
        case 3: {  // raw bytes for B fields
            in.Take(value, 64);
            SetCell(field, value);
            break;
        }
        case 4: {
            unsigned char out[kCellBufSize + 16];
            GetCell(field, out);
            break;
        }
        case 5:
            ResetCell(field);
            break;
        case 6:
            BackupMesg();
            break;
        default:
            RestoreMesg();
            break;
        }
    }

    // Whatever was stored packs or is refused; what packs unpacks again.
    static const unsigned char key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    static unsigned char frame[kFrameBufSize];
    int frameLen = 0;
    if (BuildPacket(DefaultMesg(), DefaultDes(), frame, key, &frameLen) == 0) {
        fuzz::Require(frameLen >= 26 && frameLen < kFrameBufSize, "frame length in range");
        fuzz::Require(frame[frameLen - 1] == DefaultMesg().packet.stop, "stop byte last");
        BackupMesg();
        ResetMesg();
        RequireCleared();
        Packet &p = DefaultMesg().packet;
        p.len = frameLen - kFrameOverhead;
        std::memcpy(p.bitmap, frame + 9, kBitmapSize);
        std::memcpy(p.data, frame + 17, static_cast<size_t>(frameLen - 18));
        if (UnpackMesg(DefaultMesg()) == 0)
            fuzz::Require(CheckMesgMac(key) == 0, "a packed message passes its own MAC check");
    }
    return 0;
}
