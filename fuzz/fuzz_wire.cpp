// The wire module's reader on any stream of bytes. The first input byte
// picks the kind of frame and the second the sizes of the pieces the
// stream is fed in; the rest is the stream. Frame after frame, a reader fed
// in those pieces must agree with one fed a byte at a time and with a scan
// of all that is left: the same result, the same bytes taken, never a byte
// past a frame's end.
#include "fuzz_support.h"
#include "kit/wire.h"

#include <cstring>

using namespace tranpak;

namespace {

bool Same(const wire::Scan &a, const wire::Scan &b)
{
    return a.status == b.status && a.fault == b.fault && a.size == b.size && a.len == b.len && a.kind == b.kind;
}

// Feeds bytes in pieces of the sizes `seed` gives (1 to 16, now and then
// all that is left); the bytes taken.
int FeedInPieces(wire::FrameReader &reader, const uint8_t *bytes, int count, unsigned seed)
{
    int at = 0;
    while (at < count && reader.Result().status == wire::Status::kNeedMore) {
        seed = seed * 1103515245u + 12345u;
        const int want = (seed >> 16) % 7 == 0 ? count - at : static_cast<int>((seed >> 16) % 16) + 1;
        const int n = want < count - at ? want : count - at;
        int took = 0;
        reader.Feed(bytes + at, n, &took);
        fuzz::Require(took <= n, "a reader takes at most what it is given");
        at += took;
        if (took < n)
            break;
    }
    return at;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 65536)
        return 0;
    const wire::Kind kind = static_cast<wire::Kind>(data[0] % 3);
    const unsigned seed = data[1];
    const uint8_t *stream = data + 2;
    const int count = static_cast<int>(size - 2);
    static unsigned char pieces[wire::kAnyBufSize], single[wire::kAnyBufSize];
    // A small buffer now and then, so that frames too large for it come.
    const int room = data[1] & 0x80 ? 64 : wire::kAnyBufSize;
    wire::FrameReader a(kind, pieces, room), b(kind, single, room);
    int at = 0;
    for (;;) {
        const int takenA = FeedInPieces(a, stream + at, count - at, seed + static_cast<unsigned>(at));
        int takenB = 0;
        for (int k = at; k < count && b.Result().status == wire::Status::kNeedMore; ++k) {
            int took = 0;
            b.Feed(stream + k, 1, &took);
            takenB += took;
        }
        const wire::Scan s = a.Result();
        fuzz::Require(Same(s, b.Result()), "pieces and single bytes give the same result");
        fuzz::Require(takenA == takenB && a.Held() == takenA, "pieces and single bytes take the same bytes");
        fuzz::Require(std::memcmp(pieces, stream + at, static_cast<size_t>(takenA)) == 0, "the frame holds what came");
        if (s.fault != wire::Fault::kRoom) {
            const wire::Scan all = wire::ScanFrame(kind, stream + at, count - at);
            fuzz::Require(Same(s, all), "the reader agrees with a scan of all that is left");
        }
        if (s.status == wire::Status::kComplete)
            fuzz::Require(takenA == s.size, "a complete frame is taken to its end and no further");
        if (s.status == wire::Status::kNeedMore)
            fuzz::Require(takenA == count - at && s.size > takenA && a.Wanted() == s.size - takenA,
                          "a frame that needs more took everything and wants the rest");
        if (s.status != wire::Status::kComplete)
            return 0;
        at += takenA;
        a.Restart();
        b.Restart();
    }
}
