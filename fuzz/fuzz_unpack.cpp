// Unpacking a received data area: two bytes of len, eight of bitmap, then
// the data, against definitions that cover every type, fixed and variable.
#include "api/session.h"
#include "message/mesg_state.h"
#include "fuzz_support.h"
#include "codec/packet.h"
#include "tranpak.h"

#include <cstring>

using namespace tranpak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (fuzz::InitWithDefinitions(fuzz::kEveryTypeDefinitions), true);
    (void)ready;
    if (size < 10)
        return 0;
    ResetMesg();
    Packet &p = DefaultMesg().packet;
    // len may disagree with the data that follows, as a hostile peer's may.
    p.len = ((data[0] << 8) | data[1]) - 100;
    std::memcpy(p.bitmap, data + 2, kBitmapSize);
    size_t rest = size - 10;
    if (rest > sizeof p.data)
        rest = sizeof p.data;
    std::memcpy(p.data, data + 10, rest);

    UnpackMesg(DefaultMesg());
    unsigned char out[kCellBufSize + 8];
    for (int field = 1; field <= kCellCount; ++field) {
        if (DefaultMesg().cells[field - 1].used == 0)
            continue;  // refused with a log line: nothing more to learn
        if (GetCell(field, out) == 0 && DefaultMesg().cells[field - 1].type != kTypeB &&
            DefaultMesg().cells[field - 1].type != kTypeNI && DefaultMesg().cells[field - 1].type != kTypeNF)
            fuzz::Require(std::memchr(out, 0, kCellBufSize) != nullptr, "text delivered with its NUL");
    }
    static const unsigned char key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CheckMesgMac(key);
    return 0;
}
