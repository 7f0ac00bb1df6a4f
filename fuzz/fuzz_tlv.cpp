// The BER-TLV walker on any bytes. Whatever it is given, it either walks
// to the end or stops at one fault inside the list; a list it walks whole
// is built again through the public functions (lengths in the fewest
// bytes) and that list walks to the same TLVs; a description measures
// what it then writes.
#include "fuzz_support.h"
#include "message/tlv.h"

#include <cstring>

using namespace tranpak;

namespace {

// Fewer items than bytes: each takes at least two.
constexpr int kMaxInput = 4096;
constexpr int kMaxItems = kMaxInput / 2;

struct Walked {
    TlvItem items[kMaxItems];
    int count;
    int status;
    TlvFault fault;
};

void Walk(const unsigned char *bytes, int len, Walked &w)
{
    TlvWalker walker(bytes, len);
    w.count = 0;
    while ((w.status = walker.Next(w.items[w.count])) == 1) {
        const TlvItem &it = w.items[w.count];
        fuzz::Require(it.offset >= 0 && it.valueOffset > it.offset && it.valueOffset + it.len <= len,
                      "a TLV lies inside the list");
        fuzz::Require(it.depth >= 0 && it.depth <= kTlvMaxDepth, "the depth stays within the limit");
        fuzz::Require(w.count == 0 || it.offset > w.items[w.count - 1].offset, "the walk goes forward");
        fuzz::Require(++w.count < kMaxItems, "at most one TLV for each two bytes");
    }
    w.fault = walker.fault();
    fuzz::Require(w.status == 0 || (w.fault.offset >= 0 && w.fault.offset < len && w.fault.reason[0] != '\0'),
                  "a fault lies inside the list and says why");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    const int len = static_cast<int>(size);
    static Walked first, second;
    Walk(data, len, first);
    TlvFault fault;
    fuzz::Require(CheckTlv(data, len, fault) == first.status, "the check agrees with the walk");
    fuzz::Require(fault.offset == first.fault.offset, "the check finds the walk's fault");

    static char text[64 * kMaxInput];
    int measured = -1;
    const int described = DescribeTlv(data, len, text, sizeof text, TP_DESCRIBE_JSON, 0, &measured, fault);
    fuzz::Require((described == 0) == (first.status == 0), "a list is described when it walks whole");
    if (described == 0)
        fuzz::Require(static_cast<int>(std::strlen(text)) == measured, "the description is as long as measured");
    if (first.status != 0)
        return 0;

    // Built again: primitive TLVs appended, constructed ones opened and
    // closed when the walk leaves them.
    static unsigned char built[2 * kMaxInput];
    int used = 0;
    int marks[kTlvMaxDepth + 1];
    int open = 0;
    for (int k = 0; k < first.count; ++k) {
        const TlvItem &it = first.items[k];
        for (; open > it.depth; --open)
            fuzz::Require(TpTlvClose(built, sizeof built, &used, marks[open - 1], nullptr) == 0, "a tag closes");
        if (it.constructed && it.len > 0) {
            fuzz::Require(TpTlvOpen(built, sizeof built, &used, it.tag, &marks[open++], nullptr) == 0, "a tag opens");
        } else {
            fuzz::Require(TpTlvAppend(built, sizeof built, &used, it.tag, it.value, it.len, nullptr) == 0,
                          "a TLV read is a TLV that can be written");
        }
    }
    for (; open > 0; --open)
        fuzz::Require(TpTlvClose(built, sizeof built, &used, marks[open - 1], nullptr) == 0, "a tag closes");
    fuzz::Require(used <= len, "the fewest length bytes never make a list longer");
    Walk(built, used, second);
    fuzz::Require(second.status == 0 && second.count == first.count, "the list built walks to as many TLVs");
    for (int k = 0; k < first.count; ++k) {
        const TlvItem &a = first.items[k], &b = second.items[k];
        // A constructed value shrinks with the lengths inside it.
        fuzz::Require(
            a.tag == b.tag && a.depth == b.depth && a.constructed == b.constructed && (a.constructed || a.len == b.len),
            "the same TLV, where it was");
        fuzz::Require(a.constructed || std::memcmp(a.value, b.value, static_cast<size_t>(a.len)) == 0,
                      "with the same value");
    }
    return 0;
}
