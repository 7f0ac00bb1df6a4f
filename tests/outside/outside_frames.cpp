// Frames for the checks by decoders written elsewhere (tests/outside/):
// built and read through the public header only, as an application does.
//
//   outside_frames tshark DIR
//       For each dialect that Wireshark's ISO 8583 dissector reads, the
//       same messages packed: DIR/<dialect>.hex (a hex dump for text2pcap,
//       each frame a packet), DIR/<dialect>.prefs (the dissector's
//       preferences, one -o argument a line) and DIR/<dialect>.expect (one
//       line a frame: what TpDescribe gives after the frame was unpacked
//       again, as JSON).
//   outside_frames npm-write SEED COUNT FILE
//       COUNT random messages over fields 2 to 128, typed as the npm
//       iso_8583 package's 1987 formats, packed with a 2-byte length and
//       no envelope; a line each: the frame in hex, then "field=value"
//       for the type, every field and the MAC, tab-separated.
//   outside_frames npm-read FILE FRAMES
//       Each frame of FRAMES (hex, a line each, written by the package
//       from the messages of FILE) unpacked: the same type, the same
//       fields with the same values, nothing else, and the MAC agrees.
//
// Exit status 0 when every frame was written, or read as expected.
#include "tranpak.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const unsigned char kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

std::string g_dir = ".";

bool WriteText(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool Unhex(const std::string &hex, std::string *out)
{
    if (hex.size() % 2 != 0)
        return false;
    out->clear();
    for (size_t k = 0; k < hex.size(); k += 2) {
        char pair[3] = {hex[k], hex[k + 1], 0};
        char *end = nullptr;
        const long v = std::strtol(pair, &end, 16);
        if (end != pair + 2)
            return false;
        out->push_back(static_cast<char>(v));
    }
    return true;
}

std::string Upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string LastError(TpSession *s)
{
    char text[512] = {};
    TpGetLastErrMesg(s, text, sizeof text);
    return text;
}

// A session reading the definitions in g_dir/bitmap.txt, with the
// [Wire Format] lines given.
std::unique_ptr<TpSession> Session(const std::string &wire, const std::string &name)
{
    const std::string ini = g_dir + "/" + name + ".ini";
    std::string text = "[Error Log File]\nERRFILE=" + g_dir + "/errlog.txt\n[Bitmap Define File]\nBMPFILE=" + g_dir +
                       "/bitmap.txt\n[Wire Format]\n" + wire;
    if (!WriteText(ini, text))
        return nullptr;
    auto s = std::make_unique<TpSession>();
    if (TpInit8583(s.get(), ini.c_str()) != 0) {
        std::fprintf(stderr, "outside_frames: %s: %s\n", ini.c_str(), LastError(s.get()).c_str());
        return nullptr;
    }
    return s;
}

using Fields = std::map<int, std::string>;  // 0 is the type

// The message set and packed; "" with a line on standard error when a
// step is refused.
std::string Pack(TpSession *s, const Fields &fields)
{
    TpResetMesg(s);
    for (const auto &[field, text] : fields)
        if (TpSetCellText(s, field, text.c_str()) != 0) {
            std::fprintf(stderr, "outside_frames: field %d \"%s\": %s\n", field, text.c_str(), LastError(s).c_str());
            return "";
        }
    unsigned char frame[8192];
    int len = 0;
    if (TpPackMesg(s, kKey, frame, sizeof frame, &len) != 0) {
        std::fprintf(stderr, "outside_frames: pack: %s\n", LastError(s).c_str());
        return "";
    }
    return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
}

int Unpack(TpSession *s, const std::string &frame)
{
    return TpUnpackMesg(s, reinterpret_cast<const unsigned char *>(frame.data()), static_cast<int>(frame.size()));
}

// The fields in use and their texts, the type as 0, each by
// TpGetCellText (refused, with a log line, for a field not in use).
bool InUse(TpSession *s, Fields *out)
{
    static char text[1024];
    out->clear();
    for (int field = 0; field <= 128; ++field)
        if (TpGetCellText(s, field, text, sizeof text) == 0)
            (*out)[field] = text;
    return !out->empty();
}

// --- tshark ---------------------------------------------------------------

// Types as the dissector's compiled 1987 table has them.
constexpr char kTsharkDefinitions[] =
    "PAN       N    19,2   2\n"
    "PROCCODE  N    6      3\n"
    "AMOUNT    N    12     4\n"
    "STAN      N    6      11\n"
    "LOCALTIME N    6      12\n"
    "EXPIRY    N    4      14\n"
    "ENTRYMODE N    3      22\n"
    "ACQUIRER  N    11,2   32\n"
    "TRACK2    Z    37,2   35\n"
    "RRN       AN   12     37\n"
    "AUTHCODE  AN   6      38\n"
    "RESPONSE  AN   2      39\n"
    "TERMID    ANS  8      41\n"
    "MERCHANT  ANS  15     42\n"
    "ADDRESP   ANS  25,2   44\n"
    "ADDDATA   ANS  399,3  48\n"
    "PINBLOCK  B    8      52\n"
    "MAC       B    8      64\n"
    "NETCODE   N    3      70\n"
    "ACTDATE   N    6      73\n"
    "CREDITS   N    10     74\n"
    "RECEIVER  N    11,2   100\n"
    "ACCOUNT   ANS  28,2   102\n"
    "PRIVATE   ANS  399,3  120\n"
    "MAC2      B    8      128\n";

struct TsharkDialect {
    const char *name;
    const char *wire;
    bool littleEndian;
    bool bcd;     // numbers, prefixes and the type as BCD
    bool hexMap;  // bitmaps and B fields as hexadecimal characters
};

const TsharkDialect kTsharkDialects[] = {
    {"binary2-ascii", "LENGTH=BINARY2\nENVELOPE=NONE\n", false, false, false},
    {"binary2le-ascii", "LENGTH=BINARY2LE\nENVELOPE=NONE\n", true, false, false},
    {"binary2-bcd", "LENGTH=BINARY2\nENVELOPE=NONE\nMTI=BCD\nNUMBERS=BCD\nPREFIX=BCD\n", false, true, false},
    {"binary2le-bcd", "LENGTH=BINARY2LE\nENVELOPE=NONE\nMTI=BCD\nNUMBERS=BCD\nPREFIX=BCD\n", true, true, false},
    {"binary2-ascii-hexmap", "LENGTH=BINARY2\nENVELOPE=NONE\nBITMAP=HEX\nBINARY=HEX\n", false, false, true},
    {"binary2le-bcd-hexmap",
     "LENGTH=BINARY2LE\nENVELOPE=NONE\nMTI=BCD\nNUMBERS=BCD\nPREFIX=BCD\nBITMAP=HEX\nBINARY=HEX\n", true, true, true},
};

std::vector<Fields> TsharkMessages(const TsharkDialect &d)
{
    std::vector<Fields> messages = {
        // A purchase: odd and even digit counts, every prefix size, the MAC
        // in 64. (In BCD with binary bitmaps the dissector first reads the
        // 16 bytes at offset 6 as text and gives the frame up when they
        // make 16 characters that are no hexadecimal digits: a 13-digit
        // card number makes them so here, a 15-digit one does not.)
        {{0, "0200"},
         {2, "411111111111111"},
         {3, "000000"},
         {4, "000000001250"},
         {11, "000123"},
         {12, "104512"},
         {14, "2512"},
         {22, "051"},
         {32, "12345"},
         {37, "RRN123456789"},
         {38, "AB12CD"},
         {41, "TERM0001"},
         {42, "MERCHANT 000042"},
         {44, "OK, approved"},
         {48, "Additional data: 1 + 2 = 3; (a) [b] {c}"},
         {52, "0123456789ABCDEF"}},
        // A network message: field 70 alone behind the secondary bitmap, the MAC in 128.
        {{0, "0800"}, {11, "000124"}, {70, "301"}},
        // A reply with fields on both bitmaps.
        {{0, "0210"},
         {2, "4000123456789010"},
         {3, "000000"},
         {4, "000000001250"},
         {11, "000123"},
         {39, "00"},
         {41, "TERM0001"},
         {73, "261231"},
         {74, "0000000042"},
         {100, "987654321"},
         {102, "ACCOUNT-0001/A"},
         {120, "a longer private field, with punctuation: ;:!?"}},
    };
    // The dissector reads track 2 as characters only when it reads binary
    // data as hexadecimal characters and numbers as characters.
    if (d.hexMap && !d.bcd)
        messages.push_back({{0, "0100"}, {2, "4111111111111"}, {3, "000000"}, {35, "4111111111111=2512"}});
    return messages;
}

// A hex dump as text2pcap reads it, the frame one packet.
std::string HexDump(const std::string &frame)
{
    std::string out;
    char line[16];
    for (size_t at = 0; at < frame.size(); at += 16) {
        std::snprintf(line, sizeof line, "%06zx", at);
        out += line;
        for (size_t k = at; k < at + 16 && k < frame.size(); ++k) {
            std::snprintf(line, sizeof line, " %02x", static_cast<unsigned char>(frame[k]));
            out += line;
        }
        out += "\n";
    }
    return out;
}

int WriteTshark()
{
    if (!WriteText(g_dir + "/bitmap.txt", kTsharkDefinitions))
        return 1;
    for (const TsharkDialect &d : kTsharkDialects) {
        auto writer = Session(d.wire, std::string(d.name) + "-writer");
        auto reader = Session(d.wire, std::string(d.name) + "-reader");
        if (writer == nullptr || reader == nullptr)
            return 1;
        std::string dump, expect;
        for (const Fields &m : TsharkMessages(d)) {
            const std::string frame = Pack(writer.get(), m);
            if (frame.empty())
                return 1;
            if (Unpack(reader.get(), frame) != 0 || TpCheckMesgMac(reader.get(), kKey) != 0) {
                std::fprintf(stderr, "outside_frames: %s: its own frame: %s\n", d.name,
                             LastError(reader.get()).c_str());
                return 1;
            }
            Fields back;
            InUse(reader.get(), &back);
            for (const auto &[field, text] : m)
                if (back[field] != text) {
                    std::fprintf(stderr, "outside_frames: %s: field %d read back as \"%s\"\n", d.name, field,
                                 back[field].c_str());
                    return 1;
                }
            int len = 0;
            static char description[65536];
            if (TpDescribe(reader.get(), TP_DESCRIBE_JSON | TP_DESCRIBE_UNMASKED, description, sizeof description,
                           &len) != 0) {
                std::fprintf(stderr, "outside_frames: %s: TpDescribe: %s\n", d.name, LastError(reader.get()).c_str());
                return 1;
            }
            dump += HexDump(frame);
            expect += std::string(description, static_cast<size_t>(len)) + "\n";
        }
        const std::string prefs =
            std::string("iso8583.len_endian:") + (d.littleEndian ? "Little endian" : "Big endian") + "\n" +
            "iso8583.charset:" + (d.bcd ? "Digits represented in nibbles" : "Digits represented as ASCII Characters") +
            "\n" + "iso8583.binencode:" +
            (d.hexMap ? "Bin data represented as Hex Ascii characters" : "Bin data not encoded") + "\n";
        const std::string base = g_dir + "/" + d.name;
        if (!WriteText(base + ".hex", dump) || !WriteText(base + ".expect", expect) ||
            !WriteText(base + ".prefs", prefs))
            return 1;
    }
    return 0;
}

// --- npm iso_8583 ---------------------------------------------------------

// The content types of the package's formats, as tranpak types them.
enum class Content { kN, kAn, kAnp, kAns, kNs, kXn, kZ, kB };

struct NpmField {
    int field;
    Content content;
    int max;     // characters (bytes of a B field)
    int digits;  // of the length prefix; 0 for a fixed length
};

// The package's 1987 formats (lib/formats.js), fields 2 to 126: every one
// but 65 (a third bitmap's bit, one hexadecimal character) and 127 (its
// own sub-message). Its LLLVAR fields of up to 999 are defined up to 399,
// the longest value a field holds here; the values stay shorter.
const NpmField kNpmFields[] = {
    {2, Content::kN, 19, 2},      {3, Content::kN, 6, 0},       {4, Content::kN, 12, 0},
    {5, Content::kN, 12, 0},      {6, Content::kN, 12, 0},      {7, Content::kN, 10, 0},
    {8, Content::kN, 8, 0},       {9, Content::kN, 8, 0},       {10, Content::kN, 8, 0},
    {11, Content::kN, 6, 0},      {12, Content::kN, 6, 0},      {13, Content::kN, 4, 0},
    {14, Content::kN, 4, 0},      {15, Content::kN, 4, 0},      {16, Content::kN, 4, 0},
    {17, Content::kN, 4, 0},      {18, Content::kN, 4, 0},      {19, Content::kN, 3, 0},
    {20, Content::kN, 3, 0},      {21, Content::kN, 3, 0},      {22, Content::kN, 3, 0},
    {23, Content::kN, 3, 0},      {24, Content::kN, 3, 0},      {25, Content::kN, 2, 0},
    {26, Content::kN, 2, 0},      {27, Content::kN, 1, 0},      {28, Content::kXn, 9, 0},
    {29, Content::kXn, 9, 0},     {30, Content::kXn, 9, 0},     {31, Content::kXn, 9, 0},
    {32, Content::kN, 11, 2},     {33, Content::kN, 11, 2},     {34, Content::kNs, 28, 2},
    {35, Content::kZ, 37, 2},     {36, Content::kN, 104, 3},    {37, Content::kAnp, 12, 0},
    {38, Content::kAnp, 6, 0},    {39, Content::kAn, 2, 0},     {40, Content::kN, 3, 0},
    {41, Content::kAns, 8, 0},    {42, Content::kAns, 15, 0},   {43, Content::kAns, 40, 0},
    {44, Content::kAns, 25, 2},   {45, Content::kAns, 76, 2},   {46, Content::kAns, 399, 3},
    {47, Content::kAns, 399, 3},  {48, Content::kAns, 399, 3},  {49, Content::kN, 3, 0},
    {50, Content::kAn, 3, 0},     {51, Content::kN, 3, 0},      {52, Content::kB, 8, 0},
    {53, Content::kB, 48, 0},     {54, Content::kAn, 120, 3},   {55, Content::kAns, 399, 3},
    {56, Content::kAns, 399, 3},  {57, Content::kAns, 399, 3},  {58, Content::kN, 11, 2},
    {59, Content::kAns, 255, 3},  {60, Content::kAns, 399, 3},  {61, Content::kAns, 399, 3},
    {62, Content::kAns, 399, 3},  {63, Content::kAns, 399, 3},  {66, Content::kN, 1, 0},
    {67, Content::kN, 2, 0},      {68, Content::kN, 3, 0},      {69, Content::kN, 3, 0},
    {70, Content::kN, 3, 0},      {71, Content::kN, 4, 0},      {72, Content::kN, 4, 0},
    {73, Content::kN, 6, 0},      {74, Content::kN, 10, 0},     {75, Content::kN, 10, 0},
    {76, Content::kN, 10, 0},     {77, Content::kN, 10, 0},     {78, Content::kN, 10, 0},
    {79, Content::kN, 10, 0},     {80, Content::kN, 10, 0},     {81, Content::kN, 10, 0},
    {82, Content::kN, 12, 0},     {83, Content::kN, 12, 0},     {84, Content::kN, 12, 0},
    {85, Content::kN, 12, 0},     {86, Content::kN, 16, 0},     {87, Content::kN, 16, 0},
    {88, Content::kN, 16, 0},     {89, Content::kN, 16, 0},     {90, Content::kN, 42, 0},
    {91, Content::kAn, 1, 0},     {92, Content::kAn, 2, 0},     {93, Content::kAn, 5, 0},
    {94, Content::kAn, 7, 0},     {95, Content::kAn, 42, 0},    {96, Content::kB, 4, 0},
    {97, Content::kXn, 17, 0},    {98, Content::kAns, 25, 0},   {99, Content::kN, 11, 2},
    {100, Content::kN, 11, 2},    {101, Content::kAns, 17, 2},  {102, Content::kAns, 28, 2},
    {103, Content::kAns, 28, 2},  {104, Content::kAns, 100, 3}, {105, Content::kAns, 399, 3},
    {106, Content::kAns, 399, 3}, {107, Content::kAns, 399, 3}, {108, Content::kAns, 399, 3},
    {109, Content::kAns, 399, 3}, {110, Content::kAns, 399, 3}, {111, Content::kAns, 399, 3},
    {112, Content::kAns, 399, 3}, {113, Content::kAns, 399, 3}, {114, Content::kAns, 399, 3},
    {115, Content::kAns, 399, 3}, {116, Content::kAns, 399, 3}, {117, Content::kAns, 399, 3},
    {118, Content::kN, 399, 3},   {119, Content::kN, 399, 3},   {120, Content::kN, 399, 3},
    {121, Content::kN, 399, 3},   {122, Content::kN, 399, 3},   {123, Content::kAn, 399, 3},
    {124, Content::kAns, 399, 3}, {125, Content::kAns, 399, 3}, {126, Content::kAns, 399, 3},
};

std::string NpmDefinitions()
{
    std::string out;
    char line[80];
    for (const NpmField &f : kNpmFields) {
        const char *type = "ANS";
        switch (f.content) {
        case Content::kN:
            type = "N";
            break;
        case Content::kAn:
            type = "AN";
            break;
        case Content::kZ:
            type = "Z";
            break;
        case Content::kB:
            type = "B";
            break;
        default:
            break;
        }
        if (f.digits == 0)
            std::snprintf(line, sizeof line, "F%d %s %d %d\n", f.field, type, f.max, f.field);
        else
            std::snprintf(line, sizeof line, "F%d %s %d,%d %d\n", f.field, type, f.max, f.digits, f.field);
        out += line;
    }
    // The MAC: 8 bytes, in 64 under one bitmap and in 128 under two.
    out += "MAC B 8 64\nMAC2 B 8 128\n";
    return out;
}

// A fixed-seed generator, the same sequence on every machine.
struct Random {
    uint64_t state;
    uint32_t Next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
};

// A character of the content type that the package's own check takes
// and tranpak's type holds; no value starts or ends with a space.
char Pick(Random &r, Content c, bool edge)
{
    static const char digits[] = "0123456789";
    static const char alnum[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static const char ans[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-!$%^&*()_+|~=`{}[]:\";'<>?,./ ";
    static const char ns[] = "0123456789-!$%^&*()_+|~=`{}[]:\";'<>?,./ ";
    auto from = [&](const char *set, size_t n) {
        // n counts the set's characters; a space is its last.
        const size_t room = edge && set[n - 1] == ' ' ? n - 1 : n;
        return set[r.Below(static_cast<int>(room))];
    };
    switch (c) {
    case Content::kN:
    case Content::kXn:
    case Content::kZ:
        return digits[r.Below(10)];
    case Content::kAn:
        return alnum[r.Below(62)];
    case Content::kAnp:
        return edge ? alnum[r.Below(62)] : (r.Below(8) == 0 ? ' ' : alnum[r.Below(62)]);
    case Content::kAns:
        return from(ans, sizeof ans - 1);
    case Content::kNs:
        return from(ns, sizeof ns - 1);
    case Content::kB:
        return "0123456789ABCDEF"[r.Below(16)];
    }
    return '0';
}

std::string RandomValue(Random &r, const NpmField &f)
{
    int len = f.max;
    if (f.digits != 0) {
        // Mostly short, now and then up to 120 characters.
        const int cap = f.max < 120 ? f.max : 120;
        len = 1 + (r.Below(4) == 0 ? r.Below(cap) : r.Below(cap < 16 ? cap : 16));
    }
    if (f.content == Content::kB)
        len = 2 * f.max;
    std::string v;
    for (int k = 0; k < len; ++k)
        v += Pick(r, f.content, k == 0 || k == len - 1);
    if (f.content == Content::kXn)
        v[0] = r.Below(2) == 0 ? 'C' : 'D';
    if (f.content == Content::kZ && len >= 3)
        v[static_cast<size_t>(1 + r.Below(len - 2))] = '=';
    return v;
}

// Bytes a value takes with its prefix (ASCII fields, raw B).
int WireSize(const NpmField &f, const std::string &v)
{
    return (f.content == Content::kB ? static_cast<int>(v.size()) / 2 : static_cast<int>(v.size())) + f.digits;
}

const char *const kNpmTypes[] = {"0100", "0110", "0200", "0210", "0220", "0400", "0420", "0800", "0810"};

int WriteNpm(uint64_t seed, int count, const std::string &file)
{
    if (!WriteText(g_dir + "/bitmap.txt", NpmDefinitions()))
        return 1;
    const char *wire = "LENGTH=BINARY2\nENVELOPE=NONE\n";
    auto writer = Session(wire, "npm-writer");
    auto reader = Session(wire, "npm-reader");
    if (writer == nullptr || reader == nullptr)
        return 1;
    Random r{seed};
    const int fieldCount = static_cast<int>(sizeof kNpmFields / sizeof kNpmFields[0]);
    std::string out;
    int secondary = 0;
    for (int n = 0; n < count; ++n) {
        Fields m;
        m[0] = kNpmTypes[r.Below(static_cast<int>(sizeof kNpmTypes / sizeof kNpmTypes[0]))];
        // Half the messages keep to the primary bitmap.
        const bool primaryOnly = r.Below(2) == 0;
        const int want = 1 + r.Below(24);
        int bytes = 0;
        for (int k = 0; k < want; ++k) {
            const NpmField &f = kNpmFields[r.Below(fieldCount)];
            if ((primaryOnly && f.field > 64) || m.count(f.field) != 0)
                continue;
            const std::string v = RandomValue(r, f);
            if (bytes + WireSize(f, v) > 1800)
                continue;
            bytes += WireSize(f, v);
            m[f.field] = v;
        }
        const std::string frame = Pack(writer.get(), m);
        if (frame.empty())
            return 1;
        if (Unpack(reader.get(), frame) != 0 || TpCheckMesgMac(reader.get(), kKey) != 0) {
            std::fprintf(stderr, "outside_frames: message %d, its own frame: %s\n", n, LastError(reader.get()).c_str());
            return 1;
        }
        Fields back;
        InUse(reader.get(), &back);
        const int macField = back.count(128) != 0 ? 128 : 64;
        if (back.count(macField) == 0) {
            std::fprintf(stderr, "outside_frames: message %d has no MAC\n", n);
            return 1;
        }
        secondary += macField == 128;
        m[macField] = back[macField];
        if (back != m) {
            std::fprintf(stderr, "outside_frames: message %d does not read back as set\n", n);
            return 1;
        }
        out += Hex(frame);
        for (const auto &[field, text] : m)
            out += "\t" + std::to_string(field) + "=" + text;
        out += "\n";
    }
    if (!WriteText(file, out))
        return 1;
    std::printf("%d messages written, %d with a secondary bitmap\n", count, secondary);
    return 0;
}

// The messages of FILE: the frame in hex and the fields.
bool ReadMessages(const std::string &file, std::vector<Fields> *messages)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream cells(line);
        std::string cell;
        std::getline(cells, cell, '\t');  // tranpak's frame
        Fields m;
        while (std::getline(cells, cell, '\t')) {
            const size_t eq = cell.find('=');
            if (eq == std::string::npos)
                return false;
            m[std::atoi(cell.substr(0, eq).c_str())] = cell.substr(eq + 1);
        }
        messages->push_back(m);
    }
    return !messages->empty();
}

int ReadNpm(const std::string &file, const std::string &framesFile)
{
    if (!WriteText(g_dir + "/bitmap.txt", NpmDefinitions()))
        return 1;
    auto reader = Session("LENGTH=BINARY2\nENVELOPE=NONE\n", "npm-read");
    if (reader == nullptr)
        return 1;
    std::vector<Fields> messages;
    if (!ReadMessages(file, &messages)) {
        std::fprintf(stderr, "outside_frames: no messages in %s\n", file.c_str());
        return 1;
    }
    std::ifstream in(framesFile);
    std::string line;
    size_t n = 0;
    int failures = 0;
    while (std::getline(in, line)) {
        if (n >= messages.size()) {
            std::fprintf(stderr, "outside_frames: more frames than messages\n");
            return 1;
        }
        const Fields &want = messages[n++];
        std::string frame;
        if (!Unhex(line, &frame)) {
            std::fprintf(stderr, "outside_frames: frame %zu is no hex\n", n);
            return 1;
        }
        auto fail = [&](const std::string &what) {
            if (++failures <= 10)
                std::fprintf(stderr, "frame %zu: %s\n  %s\n", n, what.c_str(), line.c_str());
        };
        if (Unpack(reader.get(), frame) != 0) {
            fail("refused: " + LastError(reader.get()));
            continue;
        }
        // The package wrote the MAC tranpak had made for the same fields.
        if (TpCheckMesgMac(reader.get(), kKey) != 0)
            fail("MAC: " + LastError(reader.get()));
        Fields got;
        InUse(reader.get(), &got);
        for (auto &[field, text] : got)
            if (field == 52 || field == 53 || field == 64 || field == 96 || field == 128)
                text = Upper(text);
        if (got != want) {
            std::string diff;
            for (const auto &[field, text] : want)
                if (got.count(field) == 0 || got.at(field) != text)
                    diff += " " + std::to_string(field) + ": \"" + text + "\" read as \"" +
                            (got.count(field) ? got.at(field) : "(none)") + "\";";
            for (const auto &[field, text] : got)
                if (want.count(field) == 0)
                    diff += " " + std::to_string(field) + " read, never sent;";
            fail("fields differ:" + diff);
        }
    }
    if (n != messages.size()) {
        std::fprintf(stderr, "outside_frames: %zu frames for %zu messages\n", n, messages.size());
        return 1;
    }
    std::printf("%zu frames of the package read, %d differ\n", n, failures);
    return failures == 0 ? 0 : 1;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: outside_frames tshark DIR\n"
                 "       outside_frames npm-write SEED COUNT FILE\n"
                 "       outside_frames npm-read FILE FRAMES\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "tshark") == 0) {
        g_dir = argv[2];
        return WriteTshark();
    }
    if (argc == 5 && std::strcmp(argv[1], "npm-write") == 0) {
        const std::string file = argv[4];
        g_dir = file.find('/') == std::string::npos ? "." : file.substr(0, file.find_last_of('/'));
        return WriteNpm(std::strtoull(argv[2], nullptr, 10), std::atoi(argv[3]), file);
    }
    if (argc == 4 && std::strcmp(argv[1], "npm-read") == 0) {
        const std::string file = argv[2];
        g_dir = file.find('/') == std::string::npos ? "." : file.substr(0, file.find_last_of('/'));
        return ReadNpm(file, argv[3]);
    }
    return Usage();
}
