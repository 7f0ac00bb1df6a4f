// Random messages under random wire dialects, through the public calls.
// The first bytes of the input choose a value for each [Wire Format] key
// (TpSetWireFormat), the next which fields a message holds, and the rest
// their values, each made valid for its type. The message must pack,
// unpack in a second session of the same dialect with its MAC verified,
// and read back field for field as the writer holds it. Then the frame
// with a few bytes changed (now and then cut short), and the input itself,
// are given to TpUnpackMesg under that dialect, as frames a hostile peer
// sent: refused or read, never a crash.
#include "fuzz_support.h"
#include "tranpak.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

using namespace tranpak;

namespace {

// Every type, fixed and variable, on both bitmaps; variable B; track 2.
constexpr char kDefinitions[] =
    "F2   N   19,2  2\n"
    "F3   N   6     3\n"
    "F4   NF  12    4\n"
    "F5   NI  8     5\n"
    "F6   A   4     6\n"
    "F7   AN  5     7\n"
    "F8   B   8     8\n"
    "F9   ANS 60,3  9\n"
    "F10  NI  11,2  10\n"
    "F11  NF  14,2  11\n"
    "F12  A   20,2  12\n"
    "F13  AN  30,3  13\n"
    "F14  B   16,2  14\n"
    "F35  Z   37,2  35\n"
    "F41  ANS 8     41\n"
    "F55  B   40,3  55\n"
    "MAC  B   8     64\n"
    "F70  N   3     70\n"
    "F73  Z   21    73\n"
    "F100 N   11,2  100\n"
    "F102 ANS 28,2  102\n"
    "F120 ANS 50,3  120\n"
    "MAC2 B   8     128\n";

struct FieldDef {
    int field;
    char type;  // 'N', 'F' (NF), 'I' (NI), 'A', 'a' (AN), 'B', 'S' (ANS), 'Z'
    int max;    // characters, digits or bytes
    bool variable;
};

const FieldDef kFields[] = {
    {2, 'N', 19, true},   {3, 'N', 6, false},  {4, 'F', 12, false},  {5, 'I', 8, false},   {6, 'A', 4, false},
    {7, 'a', 5, false},   {8, 'B', 8, false},  {9, 'S', 60, true},   {10, 'I', 11, true},  {11, 'F', 14, true},
    {12, 'A', 20, true},  {13, 'a', 30, true}, {14, 'B', 16, true},  {35, 'Z', 37, true},  {41, 'S', 8, false},
    {55, 'B', 40, true},  {70, 'N', 3, false}, {73, 'Z', 21, false}, {100, 'N', 11, true}, {102, 'S', 28, true},
    {120, 'S', 50, true},
};
constexpr int kFieldCount = sizeof kFields / sizeof kFields[0];

struct Key {
    const char *name;
    const char *const *values;
    int count;
};

constexpr const char *kLength[] = {"ASCII4", "BINARY2", "BINARY2LE", "BINARY4", "BCD2", "HEX4", "NONE"};
constexpr const char *kCounts[] = {"BODY", "HEADER", "ALL"};
constexpr const char *kEnvelope[] = {"STXETX", "NONE"};
constexpr const char *kHeader[] = {"", "TPDU:6000030000", "HEX:A1B2C3", "TEXT:ISO"};
constexpr const char *kMti[] = {"ASCII", "BCD", "EBCDIC"};
constexpr const char *kBitmap[] = {"BINARY", "HEX"};
constexpr const char *kCharset[] = {"ASCII", "EBCDIC037", "EBCDIC1047"};
constexpr const char *kNumbers[] = {"TEXT", "BCD"};
constexpr const char *kPrefix[] = {"TEXT", "BCD", "BINARY"};
constexpr const char *kBinary[] = {"RAW", "HEX"};

const Key kKeys[] = {
    {"LENGTH", kLength, 7}, {"LENGTHCOUNTS", kCounts, 3}, {"ENVELOPE", kEnvelope, 2}, {"HEADER", kHeader, 4},
    {"MTI", kMti, 3},       {"BITMAP", kBitmap, 2},       {"CHARSET", kCharset, 3},   {"NUMBERS", kNumbers, 2},
    {"PREFIX", kPrefix, 3}, {"BINARY", kBinary, 2},
};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

const unsigned char kKey8[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

struct Input {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    // The next byte, 0 once the input is spent.
    unsigned Next() { return pos < size ? data[pos++] : 0u; }
};

// A value valid for the field's type, from the input's bytes.
std::string Value(const FieldDef &f, Input &in)
{
    static const char digits[] = "0123456789";
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static const char alnum[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static const char hex[] = "0123456789ABCDEF";
    const int len = f.variable ? 1 + static_cast<int>(in.Next() % static_cast<unsigned>(f.max)) : f.max;
    std::string v;
    switch (f.type) {
    case 'I': {  // within int32, the sign counted in the field's length
        const int digitsAllowed = f.max - 1 < 9 ? f.max - 1 : 9;
        long value = 0;
        for (int k = 0; k < 1 + static_cast<int>(in.Next() % static_cast<unsigned>(digitsAllowed)); ++k)
            value = value * 10 + static_cast<long>(in.Next() % 10);
        return std::to_string(in.Next() % 2 == 0 ? value : -value);
    }
    case 'F': {  // an amount: sign, integer digits, two decimals
        const int intDigits = 1 + static_cast<int>(in.Next() % static_cast<unsigned>(f.max - 4));
        if (in.Next() % 2 != 0)
            v = "-";
        for (int k = 0; k < intDigits; ++k)
            v += digits[in.Next() % 10];
        v += ".";
        v += digits[in.Next() % 10];
        v += digits[in.Next() % 10];
        return v;
    }
    case 'B': {  // bytes as hexadecimal digits: maxlen of them, or 0 to maxlen for a variable field
        const int bytes = f.variable ? static_cast<int>(in.Next() % (f.max + 1)) : f.max;
        for (int k = 0; k < 2 * bytes; ++k)
            v += hex[in.Next() % 16];
        return v;
    }
    case 'Z':  // digits, one separator inside
        for (int k = 0; k < len; ++k)
            v += digits[in.Next() % 10];
        if (len >= 3)
            v[1 + in.Next() % static_cast<unsigned>(len - 2)] = '=';
        return v;
    default:
        break;
    }
    for (int k = 0; k < len; ++k) {
        const unsigned b = in.Next();
        switch (f.type) {
        case 'N':
            v += digits[b % 10];
            break;
        case 'A':
            v += letters[b % 52];
            break;
        case 'a':
            v += alnum[b % 62];
            break;
        default:  // ANS: the 95 printable characters, none at either end blank
            v += static_cast<char>((k == 0 || k == len - 1) ? 0x21 + b % 94 : 0x20 + b % 95);
            break;
        }
    }
    return v;
}

std::string Text(TpSession *s, int field)
{
    char text[1024];
    if (TpGetCellText(s, field, text, sizeof text) != 0)
        return "(refused)";
    return text;
}

void Fail(TpSession *s, const char *what)
{
    char text[512] = {};
    TpGetLastErrMesg(s, text, sizeof text);
    std::fprintf(stderr, "%s: %s\n", what, text);
    fuzz::Require(false, what);
}

TpSession g_writer, g_reader;

void Init()
{
    fuzz::EnterScratchDir();
    fuzz::WriteFile("dialect-bitmap.txt", kDefinitions, sizeof kDefinitions - 1);
    const std::string ini =
        "[Error Log File]\nERRFILE=/dev/null\n[Bitmap Define File]\nBMPFILE=dialect-bitmap.txt\n"
        "[Com Trace File]\nCTRACEFILE=/dev/null\n";
    fuzz::WriteFile("dialect.ini", ini.data(), ini.size());
    fuzz::Require(TpInit8583(&g_writer, "dialect.ini") == 0 && TpInit8583(&g_reader, "dialect.ini") == 0,
                  "the fuzz definitions load");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (Init(), true);
    (void)ready;
    Input in{data, size};
    // The dialect: a value for every key, in both sessions.
    for (const Key &k : kKeys) {
        const char *value = k.values[in.Next() % static_cast<unsigned>(k.count)];
        fuzz::Require(TpSetWireFormat(&g_writer, k.name, value) == 0 && TpSetWireFormat(&g_reader, k.name, value) == 0,
                      "every value of every key is taken");
    }
    // The fields: one bit each, then their values.
    uint32_t chosen = 0;
    for (int b = 0; b < 3; ++b)
        chosen |= in.Next() << (8 * b);
    TpResetMesg(&g_writer);
    static const char *const kTypes[] = {"0100", "0200", "0210", "0800", "0420"};
    if (TpSetCellText(&g_writer, 0, kTypes[in.Next() % 5]) != 0)
        Fail(&g_writer, "the type is set");
    for (int k = 0; k < kFieldCount; ++k) {
        if ((chosen >> k & 1u) == 0)
            continue;
        const std::string v = Value(kFields[k], in);
        if (TpSetCellText(&g_writer, kFields[k].field, v.c_str()) != 0)
            Fail(&g_writer, "a value valid for its type is set");
    }

    // Packed, unpacked in the other session, read back alike.
    static unsigned char frame[8192];
    int frameLen = 0;
    if (TpPackMesg(&g_writer, kKey8, frame, sizeof frame, &frameLen) != 0)
        Fail(&g_writer, "a message of valid values packs in every dialect");
    if (TpUnpackMesg(&g_reader, frame, frameLen) != 0)
        Fail(&g_reader, "a packed frame unpacks in the same dialect");
    if (TpCheckMesgMac(&g_reader, kKey8) != 0)
        Fail(&g_reader, "a packed frame's MAC verifies");
    fuzz::Require(Text(&g_reader, 0) == Text(&g_writer, 0), "the type reads back");
    for (int k = 0; k < kFieldCount; ++k) {
        const int field = kFields[k].field;
        const bool set = (chosen >> k & 1u) != 0;
        if (set && Text(&g_reader, field) != Text(&g_writer, field)) {
            std::fprintf(stderr, "field %d: \"%s\" read back as \"%s\"\n", field, Text(&g_writer, field).c_str(),
                         Text(&g_reader, field).c_str());
            fuzz::Require(false, "every field reads back as packed");
        }
        if (!set)
            fuzz::Require(Text(&g_reader, field) == "(refused)", "no field comes that was not sent");
    }

    // The packed frame with a few bytes changed, cut short or not, and the
    // input itself, as frames of this dialect: refused or read, no crash.
    for (int k = 0; k < 4; ++k) {
        const unsigned at = in.Next() << 8 | in.Next();
        frame[at % static_cast<unsigned>(frameLen)] ^= static_cast<unsigned char>(in.Next() | 1u);
    }
    const unsigned cut = in.Next() % 4 == 0 ? in.Next() % 8 : 0;
    const int changedLen = frameLen - static_cast<int>(cut < static_cast<unsigned>(frameLen) ? cut : 0);
    for (const auto &[bytes, len] :
         {std::pair{static_cast<const uint8_t *>(frame), changedLen}, std::pair{data, static_cast<int>(size)}}) {
        if (TpUnpackMesg(&g_reader, bytes, len) != 0)
            continue;
        TpCheckMesgMac(&g_reader, kKey8);
        for (const FieldDef &f : kFields)
            Text(&g_reader, f.field);
    }
    return 0;
}
