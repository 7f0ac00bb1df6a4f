#include "kit/wire_format.h"

#include <cstring>

namespace tranpak::wire {
namespace {

// --- The section's values --------------------------------------------------

template <typename Code>
struct Named {
    const char *name;
    Code code;
};

constexpr Named<LengthCode> kLengths[] = {
    {"ASCII4", LengthCode::kAscii4},   {"BINARY2", LengthCode::kBinary2}, {"BINARY2LE", LengthCode::kBinary2Le},
    {"BINARY4", LengthCode::kBinary4}, {"BCD2", LengthCode::kBcd2},       {"HEX4", LengthCode::kHex4},
    {"NONE", LengthCode::kNone},
};
constexpr Named<LengthCounts> kCounts[] = {
    {"BODY", LengthCounts::kBody}, {"HEADER", LengthCounts::kHeader}, {"ALL", LengthCounts::kAll}};
constexpr Named<EnvelopeCode> kEnvelopes[] = {{"STXETX", EnvelopeCode::kStxEtx}, {"NONE", EnvelopeCode::kNone}};
constexpr Named<MtiCode> kMtis[] = {{"ASCII", MtiCode::kAscii}, {"BCD", MtiCode::kBcd}, {"EBCDIC", MtiCode::kEbcdic}};
constexpr Named<BitmapCode> kBitmaps[] = {{"BINARY", BitmapCode::kBinary}, {"HEX", BitmapCode::kHex}};
constexpr Named<Charset> kCharsets[] = {
    {"ASCII", Charset::kAscii}, {"EBCDIC037", Charset::kEbcdic037}, {"EBCDIC1047", Charset::kEbcdic1047}};
constexpr Named<NumberCode> kNumbers[] = {{"TEXT", NumberCode::kText}, {"BCD", NumberCode::kBcd}};
constexpr Named<PrefixCode> kPrefixes[] = {
    {"TEXT", PrefixCode::kText}, {"BCD", PrefixCode::kBcd}, {"BINARY", PrefixCode::kBinary}};
constexpr Named<BinaryCode> kBinaries[] = {{"RAW", BinaryCode::kRaw}, {"HEX", BinaryCode::kHex}};

// Values are written as the table writes them: case matters, as it does
// for the definition file's type texts. An empty value is the default.
template <typename Code, size_t N>
bool Pick(const Named<Code> (&table)[N], const char *value, Code *out)
{
    if (value[0] == '\0') {
        *out = table[0].code;
        return true;
    }
    for (const Named<Code> &n : table)
        if (std::strcmp(n.name, value) == 0) {
            *out = n.code;
            return true;
        }
    return false;
}

bool StartsWith(const char *text, const char *prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// HEADER: "", "TPDU:" and ten hex digits, "HEX:" and an even count of hex
// digits, "TEXT:" and characters; at most kMaxHeaderSize bytes.
bool TakeHeader(const char *value, WireFormat *out)
{
    out->header = HeaderCode::kNone;
    out->headerLen = 0;
    if (value[0] == '\0')
        return true;
    const char *text = nullptr;
    HeaderCode code = HeaderCode::kNone;
    if (StartsWith(value, "TPDU:"))
        code = HeaderCode::kTpdu, text = value + 5;
    else if (StartsWith(value, "HEX:"))
        code = HeaderCode::kHex, text = value + 4;
    else if (StartsWith(value, "TEXT:"))
        code = HeaderCode::kText, text = value + 5;
    else
        return false;
    const size_t len = std::strlen(text);
    if (code == HeaderCode::kText) {
        if (len == 0 || len > kMaxHeaderSize)
            return false;
        std::memcpy(out->headerBytes, text, len);
    } else {
        if (len == 0 || len % 2 != 0 || len / 2 > kMaxHeaderSize)
            return false;
        if (code == HeaderCode::kTpdu && len != 2 * kTpduSize)
            return false;
        for (size_t k = 0; k < len; k += 2) {
            const int hi = HexDigitValue(text[k]), lo = HexDigitValue(text[k + 1]);
            if (hi < 0 || lo < 0)
                return false;
            out->headerBytes[k / 2] = static_cast<unsigned char>(hi << 4 | lo);
        }
    }
    out->header = code;
    out->headerLen = static_cast<uint8_t>(code == HeaderCode::kText ? len : len / 2);
    return true;
}

bool TakeKey(WireFormat *out, int key, const char *value)
{
    switch (key) {
    case 0:
        return Pick(kLengths, value, &out->length);
    case 1:
        return Pick(kCounts, value, &out->counts);
    case 2:
        return Pick(kEnvelopes, value, &out->envelope);
    case 3:
        return TakeHeader(value, out);
    case 4:
        return Pick(kMtis, value, &out->mti);
    case 5:
        return Pick(kBitmaps, value, &out->bitmap);
    case 6:
        return Pick(kCharsets, value, &out->charset);
    case 7:
        return Pick(kNumbers, value, &out->numbers);
    case 8:
        return Pick(kPrefixes, value, &out->prefix);
    case 9:
        return Pick(kBinaries, value, &out->binary);
    default:
        return false;
    }
}

bool SameWordNoCase(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        const char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
        const char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

// --- Characters ----------------------------------------------------------

// The printable ASCII characters 0x20 to 0x7E in code page 037; 1047
// differs in '[' (AD), ']' (BD) and '^' (5F).
constexpr unsigned char kEbcdic037[95] = {
    0x40, 0x5A, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61, 0xF0, 0xF1, 0xF2,
    0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F, 0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5,
    0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7,
    0xE8, 0xE9, 0xBA, 0xE0, 0xBB, 0xB0, 0x6D, 0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92,
    0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x4F, 0xD0, 0xA1,
};

struct CharTables {
    int16_t encode[2][256];  // [0]: 037, [1]: 1047; -1 where none
    int16_t decode[2][256];
};

constexpr CharTables MakeCharTables()
{
    CharTables t{};
    for (int cs = 0; cs < 2; ++cs)
        for (int b = 0; b < 256; ++b)
            t.encode[cs][b] = t.decode[cs][b] = -1;
    for (int c = 0x20; c <= 0x7E; ++c) {
        const int e037 = kEbcdic037[c - 0x20];
        int e1047 = e037;
        if (c == '[')
            e1047 = 0xAD;
        else if (c == ']')
            e1047 = 0xBD;
        else if (c == '^')
            e1047 = 0x5F;
        t.encode[0][c] = static_cast<int16_t>(e037);
        t.encode[1][c] = static_cast<int16_t>(e1047);
        t.decode[0][e037] = static_cast<int16_t>(c);
        t.decode[1][e1047] = static_cast<int16_t>(c);
    }
    return t;
}

constexpr CharTables kChars = MakeCharTables();

Scan NeedMore(int size, int len) { return Scan{Status::kNeedMore, Fault::kNone, size, len, Kind::kPacket}; }
Scan Bad(Fault fault, int len) { return Scan{Status::kBad, fault, 0, len, Kind::kPacket}; }

}  // namespace

const char *const kWireFormatKeys[kWireFormatKeyCount] = {
    "LENGTH", "LENGTHCOUNTS", "ENVELOPE", "HEADER", "MTI", "BITMAP", "CHARSET", "NUMBERS", "PREFIX", "BINARY",
};

bool HasSeedFields(const WireFormat &f)
{
    return f.charset == Charset::kAscii && f.numbers == NumberCode::kText && f.prefix == PrefixCode::kText &&
           f.binary == BinaryCode::kRaw;
}

bool IsSeedFormat(const WireFormat &f)
{
    return HasSeedFields(f) && f.length == LengthCode::kAscii4 && f.counts == LengthCounts::kBody &&
           f.envelope == EnvelopeCode::kStxEtx && f.header == HeaderCode::kNone && f.mti == MtiCode::kAscii &&
           f.bitmap == BitmapCode::kBinary;
}

int ParseWireFormat(const WireFormatTexts &texts, WireFormat *out)
{
    *out = WireFormat{};
    for (int k = 0; k < kWireFormatKeyCount; ++k)
        if (!TakeKey(out, k, texts.value[k]))
            return k;
    return -1;
}

int FindWireFormatKey(const char *key)
{
    for (int k = 0; k < kWireFormatKeyCount; ++k)
        if (SameWordNoCase(key, kWireFormatKeys[k]))
            return k;
    return -1;
}

int SetWireFormatKey(WireFormat *out, const char *key, const char *value)
{
    const int k = FindWireFormatKey(key);
    if (k < 0)
        return -1;
    WireFormat changed = *out;
    if (!TakeKey(&changed, k, value))
        return -1;
    *out = changed;
    return 0;
}

int LengthSize(const WireFormat &f)
{
    switch (f.length) {
    case LengthCode::kAscii4:
    case LengthCode::kBinary4:
    case LengthCode::kHex4:
        return 4;
    case LengthCode::kBinary2:
    case LengthCode::kBinary2Le:
    case LengthCode::kBcd2:
        return 2;
    case LengthCode::kNone:
        return 0;
    }
    return 0;
}

int FrameHeadSize(const WireFormat &f)
{
    return (f.envelope == EnvelopeCode::kStxEtx ? 1 : 0) + LengthSize(f) + f.headerLen;
}

int FrameTailSize(const WireFormat &f) { return f.envelope == EnvelopeCode::kStxEtx ? 1 : 0; }

int LengthMax(const WireFormat &f)
{
    switch (f.length) {
    case LengthCode::kAscii4:
    case LengthCode::kBcd2:
        return 9999;
    case LengthCode::kBinary2:
    case LengthCode::kBinary2Le:
    case LengthCode::kHex4:
        return 0xFFFF;
    case LengthCode::kBinary4:
        return kMaxFrameSize;
    case LengthCode::kNone:
        return 0;
    }
    return 0;
}

namespace {

// What the length counts besides the body.
int CountedBesideBody(const WireFormat &f)
{
    switch (f.counts) {
    case LengthCounts::kBody:
        return 0;
    case LengthCounts::kHeader:
        return f.headerLen;
    case LengthCounts::kAll:
        return f.headerLen + LengthSize(f);
    }
    return 0;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void PutLength(const WireFormat &f, unsigned char *out, int v)
{
    switch (f.length) {
    case LengthCode::kAscii4:
        PutDigits(out, v);
        return;
    case LengthCode::kBinary2:
        out[0] = static_cast<unsigned char>(v >> 8);
        out[1] = static_cast<unsigned char>(v);
        return;
    case LengthCode::kBinary2Le:
        out[0] = static_cast<unsigned char>(v);
        out[1] = static_cast<unsigned char>(v >> 8);
        return;
    case LengthCode::kBinary4:
        out[0] = static_cast<unsigned char>(v >> 24);
        out[1] = static_cast<unsigned char>(v >> 16);
        out[2] = static_cast<unsigned char>(v >> 8);
        out[3] = static_cast<unsigned char>(v);
        return;
    case LengthCode::kBcd2:
        out[0] = static_cast<unsigned char>((v / 1000 % 10) << 4 | (v / 100 % 10));
        out[1] = static_cast<unsigned char>((v / 10 % 10) << 4 | (v % 10));
        return;
    case LengthCode::kHex4:
        for (int k = 3; k >= 0; --k, v >>= 4)
            out[k] = static_cast<unsigned char>(kHexDigits[v & 0xF]);
        return;
    case LengthCode::kNone:
        return;
    }
}

}  // namespace

bool PutFrameHead(const WireFormat &f, unsigned char *out, int bodyLen, const unsigned char *header)
{
    const int value = bodyLen + CountedBesideBody(f);
    if (f.length != LengthCode::kNone && value > LengthMax(f))
        return false;
    if (f.envelope == EnvelopeCode::kStxEtx)
        *out++ = kPacketStart;
    PutLength(f, out, value);
    out += LengthSize(f);
    if (f.headerLen > 0)
        std::memcpy(out, header, f.headerLen);
    return true;
}

int ReadLength(const WireFormat &f, const unsigned char *b)
{
    switch (f.length) {
    case LengthCode::kAscii4:
        return ReadDigits(b);
    case LengthCode::kBinary2:
        return b[0] << 8 | b[1];
    case LengthCode::kBinary2Le:
        return b[1] << 8 | b[0];
    case LengthCode::kBinary4: {
        if (b[0] != 0)
            return kMaxFrameSize + 1;  // far too long, without overflow
        return b[1] << 16 | b[2] << 8 | b[3];
    }
    case LengthCode::kBcd2: {
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            const int hi = b[k] >> 4, lo = b[k] & 0xF;
            if (hi > 9 || lo > 9)
                return -1;
            v = v * 100 + hi * 10 + lo;
        }
        return v;
    }
    case LengthCode::kHex4: {
        int v = 0;
        for (int k = 0; k < 4; ++k) {
            const int d = HexDigitValue(b[k]);
            if (d < 0)
                return -1;
            v = v << 4 | d;
        }
        return v;
    }
    case LengthCode::kNone:
        return -1;
    }
    return -1;
}

int BodyFromLength(const WireFormat &f, int value)
{
    const int body = value - CountedBesideBody(f);
    return body < 0 ? -1 : body;
}

Scan ScanDialect(const WireFormat &f, const unsigned char *bytes, int count)
{
    const bool envelope = f.envelope == EnvelopeCode::kStxEtx;
    if (f.length == LengthCode::kNone)
        return Bad(Fault::kDigits, -1);
    if (envelope && count >= 1 && bytes[0] != kPacketStart)
        return Bad(Fault::kStart, -1);
    const int lengthAt = envelope ? 1 : 0;
    const int head = FrameHeadSize(f), tail = FrameTailSize(f);
    if (count < lengthAt + LengthSize(f))
        return NeedMore(head + kMinBody + tail, -1);
    const int value = ReadLength(f, bytes + lengthAt);
    if (value < 0)
        return Bad(Fault::kDigits, -1);
    const int body = BodyFromLength(f, value);
    if (body < kMinBody)
        return Bad(Fault::kShort, body < 0 ? value : body);
    if (body > kMaxBody)
        return Bad(Fault::kLong, body);
    const int size = head + body + tail;
    if (count < size)
        return NeedMore(size, body);
    if (envelope && bytes[size - 1] != kPacketStop)
        return Bad(Fault::kStop, body);
    return Scan{Status::kComplete, Fault::kNone, size, body, Kind::kPacket};
}

void SwapTpdu(unsigned char tpdu[kTpduSize])
{
    for (int k = 1; k <= 2; ++k) {
        const unsigned char d = tpdu[k];
        tpdu[k] = tpdu[k + 2];
        tpdu[k + 2] = d;
    }
}

int EncodeChar(Charset charset, unsigned char ascii)
{
    if (charset == Charset::kAscii)
        return ascii;
    return kChars.encode[charset == Charset::kEbcdic037 ? 0 : 1][ascii];
}

int DecodeChar(Charset charset, unsigned char byte)
{
    if (charset == Charset::kAscii)
        return byte;
    return kChars.decode[charset == Charset::kEbcdic037 ? 0 : 1][byte];
}

int HexDigitValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void PutHexByte(Charset charset, unsigned char byte, unsigned char out[2])
{
    out[0] = static_cast<unsigned char>(EncodeChar(charset, static_cast<unsigned char>(kHexDigits[byte >> 4])));
    out[1] = static_cast<unsigned char>(EncodeChar(charset, static_cast<unsigned char>(kHexDigits[byte & 0xF])));
}

int TakeHexByte(Charset charset, const unsigned char in[2], int *bad)
{
    const int hi = HexDigitValue(DecodeChar(charset, in[0]));
    const int lo = HexDigitValue(DecodeChar(charset, in[1]));
    if (hi < 0 || lo < 0) {
        *bad = hi < 0 ? 0 : 1;
        return -1;
    }
    return hi << 4 | lo;
}

const char *LengthName(LengthCode code)
{
    for (const Named<LengthCode> &n : kLengths)
        if (n.code == code)
            return n.name;
    return "?";
}

}  // namespace tranpak::wire
