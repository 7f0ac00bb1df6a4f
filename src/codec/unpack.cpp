#include "codec/bitmap.h"
#include "codec/field_codec.h"
#include "codec/packet.h"
#include "diag/errlog.h"
#include "diag/mask.h"
#include "message/numtext.h"
#include "message/text_check.h"

#include <bit>
#include <cstdint>
#include <cstring>

// Marks the code of a refusal as rarely run, so the compiler keeps it
// away from the path of the fields that pass.
#if defined(__GNUC__)
#  define TRANPAK_COLD __attribute__((cold, noinline))
#else
#  define TRANPAK_COLD
#endif

namespace tranpak {
namespace {

// Refuses a field that runs past the received data.
TRANPAK_COLD bool RefuseShort(MesgState &m, int i, int offset, int need, int limit)
{
    WriteErrLog(m.LogField(i + 1, kDataAt + offset), kErrMalformed,
                "tranpak: BMPCell[%d] needs %d bytes at offset %d, received data has %d", i, need, offset, limit);
    return false;
}

bool WithinData(MesgState &m, int i, int offset, int need, int limit)
{
    return need <= limit - offset ? true : RefuseShort(m, i, offset, need, limit);
}

// Copies count bytes into record i's buf; text values get a NUL.
void StoreValue(MesgState &m, int i, const FieldCodec &fc, const unsigned char *src, int count)
{
    BMPCell &cell = m.cells[i];
    const bool text = fc.content != FieldContent::kBinary;
    NoteCellWrite(m, i, text ? count + 1 : count);
    std::memcpy(cell.buf, src, static_cast<size_t>(count));
    if (text)
        cell.buf[count] = '\0';
}

// Character classes of the content checks (text_check.h), by byte.
enum : uint8_t { kClassDigit = 1, kClassLetter = 2, kClassSpace = 4 };

struct ClassTable {
    uint8_t of[256];
};

constexpr ClassTable MakeClassTable()
{
    ClassTable t{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            t.of[c] = kClassDigit;
        else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            t.of[c] = kClassLetter;
        else if (c == ' ' || (c >= '\t' && c <= '\r'))
            t.of[c] = kClassSpace;
    }
    return t;
}

constexpr ClassTable kClass = MakeClassTable();

// Eight bytes that are all '0' to '9': each has the high nibble 3, and
// adding 6 leaves it there (a low nibble of 10 or more carries into it).
bool EightDigits(uint64_t w)
{
    constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0u, kZeros = 0x3030303030303030u, kSixes = 0x0606060606060606u;
    return (w & kHigh) == kZeros && ((w + kSixes) & kHigh) == kZeros;
}

bool AllDigits(const unsigned char *v, int count)
{
    uint64_t w;
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        std::memcpy(&w, v + k, sizeof w);
        if (!EightDigits(w))
            return false;
    }
    if (k == count)
        return true;
    if (count >= 8) {
        // The last eight bytes, overlapping the ones already tested.
        std::memcpy(&w, v + count - 8, sizeof w);
        return EightDigits(w);
    }
    for (; k < count; ++k)
        if (static_cast<unsigned>(v[k]) - '0' > 9)
            return false;
    return true;
}

// Where the received data's next NUL byte is. Fields come in ascending
// order, so one search serves every text field up to the NUL it found.
class NulFinder {
public:
    explicit NulFinder(const unsigned char *end) : end_(end) {}
    // The first NUL at or after at, or the end of the data.
    const unsigned char *From(const unsigned char *at)
    {
        if (from_ == nullptr || at < from_ || nul_ < at) {
            const void *nul = std::memchr(at, 0, static_cast<size_t>(end_ - at));
            from_ = at;
            nul_ = nul == nullptr ? end_ : static_cast<const unsigned char *>(nul);
        }
        return nul_;
    }

private:
    const unsigned char *end_;
    const unsigned char *from_ = nullptr;
    const unsigned char *nul_ = nullptr;
};

bool AllOfClass(const unsigned char *v, int count, uint8_t allowed)
{
    for (int k = 0; k < count; ++k)
        if ((kClass.of[v[k]] & allowed) == 0)
            return false;
    return true;
}

// True when the count received bytes of a text value pass the content
// check of the type and hold no NUL, in one pass over them. False says
// only that the full checks must run: the type is not one of these, or a
// byte is outside the type's characters.
bool PassesAtOnce(int type, const unsigned char *v, int count, NulFinder &nuls)
{
    switch (type) {
    case kTypeANS:
        return nuls.From(v) >= v + count;
    case kTypeNI:
    case kTypeNF:
    case kTypeN: {
        // An optional sign, then digits only.
        const int start = count > 0 && (v[0] == '+' || v[0] == '-') ? 1 : 0;
        return AllDigits(v + start, count - start);
    }
    case kTypeA:
        return AllOfClass(v, count, kClassLetter | kClassSpace);
    case kTypeAN:
        return AllOfClass(v, count, kClassLetter | kClassDigit | kClassSpace);
    default:
        return false;
    }
}

int UnpackField(MesgState &m, int i, const unsigned char *src, int *offset, int limit, NulFinder &nuls);

}  // namespace

int CheckCellContent(MesgState &m, int i, int frameOffset)
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
        {kTypeN, IsNumberText, "number(N)"},   {kTypeZ, IsTrack2Text, "track 2(Z)"},
    };
    const BMPCell &cell = m.cells[i];
    if (cell.type == kTypeANS || cell.type == kTypeB)
        return 0;
    for (const ContentRule &rule : kRules) {
        if (rule.type != cell.type)
            continue;
        if (rule.passes(cell.buf))
            return 0;
        char shown[kLoggedValueSize];
        WriteErrLog(m.LogField(i + 1, frameOffset), kErrMalformed, "tranpak: BMPCell[%d].buf: %s not %s", i,
                    ValueForLog(i + 1, cell.buf, CellTextLength(cell), shown), rule.what);
        return -1;
    }
    WriteErrLog(m.LogField(i + 1, frameOffset), kErrSettings, "tranpak: BMPCell[%d].type = %c", i, cell.type);
    return -1;
}

int UnpackCell(MesgState &m, int i, const unsigned char *src, int *offset, int limit)
{
    NulFinder nuls(src + limit);
    return UnpackField(m, i, src, offset, limit, nuls);
}

namespace {

// The refusals, kept out of the way of the fields that pass.
TRANPAK_COLD int RefuseDefinition(MesgState &m, int i, int at, const BMPCell &cell)
{
    WriteErrLog(m.LogField(i + 1, kDataAt + at), kErrSettings,
                "tranpak: BMPCell[%d] bad definition (maxlen = %d, varlen = %d)", i, cell.maxlen, cell.varlen);
    return -1;
}

TRANPAK_COLD int RefuseUndefined(MesgState &m, int i, int at)
{
    WriteErrLog(m.LogField(i + 1, kDataAt + at), kErrMalformed, "tranpak: BMPCell[%d] undefined", i);
    return -1;
}

TRANPAK_COLD int RefusePrefix(MesgState &m, int i, int at, const unsigned char *digits, int prefix)
{
    char text[kIntTextSize] = {};
    std::memcpy(text, digits, static_cast<size_t>(prefix));
    WriteErrLog(m.LogField(i + 1, kDataAt + at), kErrMalformed, "tranpak: BMPCell[%d] len prefix %s not number", i,
                text);
    return -1;
}

TRANPAK_COLD int RefuseLength(MesgState &m, int i, int at, int count)
{
    WriteErrLog(m.LogField(i + 1, kDataAt + at), kErrMalformed, "tranpak: BMPCell[%d] len = %d, too long", i, count);
    return -1;
}

// The full content checks of a text value the one pass did not pass;
// the value lies at data offset `at`.
TRANPAK_COLD int CheckContentFully(MesgState &m, int i, int at, const unsigned char *value, int count)
{
    // A text value ends at its NUL: one inside would make the rest of
    // the field unreadable and the value read as something else.
    if (const void *nul = std::memchr(value, 0, static_cast<size_t>(count))) {
        const int k = static_cast<int>(static_cast<const unsigned char *>(nul) - value);
        WriteErrLog(m.LogField(i + 1, kDataAt + at + k), kErrMalformed,
                    "tranpak: BMPCell[%d].buf holds a NUL byte at %d", i, k);
        return -1;
    }
    return CheckCellContent(m, i, kDataAt + at);
}

int UnpackField(MesgState &m, int i, const unsigned char *src, int *offset, int limit, NulFinder &nuls)
{
    BMPCell &cell = m.cells[i];
    const int type = cell.type, maxlen = cell.maxlen, varlen = cell.varlen;
    const int textLimit = type == kTypeB ? kBinMaxLen : kTextMaxLen;
    if (maxlen < 0 || maxlen > textLimit || varlen < 0 || varlen > kMaxVarLen)
        return RefuseDefinition(m, i, *offset, cell);
    const FieldCodec fc = FieldCodecOf(cell);
    const int at = *offset;
    const int prefix = PrefixSize(fc);
    int count = fc.maxlen;
    if (fc.prefix == PrefixKind::kNone) {
        if (count == 0)
            return RefuseUndefined(m, i, at);
    } else {
        if (!WithinData(m, i, at, prefix, limit))
            return -1;
        // Up to 11 digits: the value saturates at the int32 limit as
        // TextToInt's does.
        int64_t value = 0;
        if (!ReadPrefix(fc, src + at, &value))
            return RefusePrefix(m, i, at, src + at, prefix);
        count = value > INT32_MAX ? INT32_MAX : static_cast<int>(value);
        if (count > fc.maxlen)
            return RefuseLength(m, i, at, count);
    }
    if (!WithinData(m, i, at, prefix + count, limit))
        return -1;
    const unsigned char *value = src + at + prefix;
    StoreValue(m, i, fc, value, count);
    if (fc.content == FieldContent::kBinary)
        cell.binlen = fc.prefix == PrefixKind::kNone ? 0 : count;
    if (fc.content != FieldContent::kBinary && !PassesAtOnce(type, value, count, nuls) &&
        CheckContentFully(m, i, at + prefix, value, count) != 0)
        return -1;
    cell.used = 1;
    *offset = at + prefix + count;
    return 0;
}

}  // namespace

int UnpackMesg(MesgState &m)
{
    const Packet &p = m.packet;
    int limit = p.len - kLenHeader;
    if (limit < 0)
        limit = 0;
    if (limit > kDataAreaSize)
        limit = kDataAreaSize;
    int offset = 0;
    NulFinder nuls(p.data + limit);
    // The fields whose bits are set, field 1 first.
    for (uint64_t bits = LoadBitmap(p.bitmap); bits != 0;) {
        const int i = std::countl_zero(bits);
        bits ^= BitmapBit(i);
        if (UnpackField(m, i, p.data, &offset, limit, nuls) != 0)
            return -1;
    }
    return 0;
}

}  // namespace tranpak
