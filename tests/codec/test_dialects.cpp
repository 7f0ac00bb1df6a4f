// Wire dialects: frames of each preset written out byte by byte from the
// peers' layouts (a 2-byte length, a TPDU, BCD numbers, EBCDIC, hexadecimal
// bitmaps, a secondary bitmap), packed and unpacked; every refusal of a
// broken frame with its field and offset; the seed's frame unchanged.
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

constexpr char kDefinitions[] =
    "PAN       N     19,2    2\n"
    "PROCCODE  N     6       3\n"
    "AMOUNT    N     12      4\n"
    "STAN      N     6       11\n"
    "TRACK2    Z     37,2    35\n"
    "RESPONSE  AN    2       39\n"
    "TERMID    ANS   8       41\n"
    "ADDDATA   ANS   200,3   48\n"
    "ICC       B     255,3   55\n"
    "MAC       B     8       64\n"
    "NETCODE   N     3       70\n"
    "MAC2      B     8       128\n";

const unsigned char kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

struct Field {
    int field;
    const char *text;
};

// The presets of docs/wire-formats.md.
constexpr char kSeed[] = "";
constexpr char kBinary2Ascii[] = "LENGTH=BINARY2\nENVELOPE=NONE\n";
constexpr char kNac[] =
    "LENGTH=BINARY2\nLENGTHCOUNTS=HEADER\nENVELOPE=NONE\nHEADER=TPDU:6000030000\nMTI=BCD\nNUMBERS=BCD\nPREFIX=BCD\n";
constexpr char kAscii4Bare[] = "LENGTH=ASCII4\nENVELOPE=NONE\n";
constexpr char kEbcdicHex[] = "LENGTH=BINARY2\nENVELOPE=NONE\nMTI=EBCDIC\nBITMAP=HEX\nCHARSET=EBCDIC037\n";

class DialectTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        WriteFile("bitmap.txt", kDefinitions);
    }
    // A session whose settings file has the [Wire Format] lines given.
    static std::unique_ptr<TpSession> Session(const std::string &wire, const std::string &name = "wire.ini")
    {
        std::string ini = "[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=bitmap.txt\n";
        if (!wire.empty())
            ini += "[Wire Format]\n" + wire;
        WriteFile(name, ini);
        auto s = std::make_unique<TpSession>();
        if (TpInit8583(s.get(), name.c_str()) != 0)
            return nullptr;
        return s;
    }
    static std::string Pack(TpSession *s, const char *type, const std::vector<Field> &fields)
    {
        TpResetMesg(s);
        if (TpSetCellText(s, 0, type) != 0)
            return "set 0: " + Error(s);
        for (const Field &f : fields)
            if (TpSetCellText(s, f.field, f.text) != 0)
                return "set " + std::to_string(f.field) + ": " + Error(s);
        unsigned char frame[4096];
        int len = 0;
        if (TpPackMesg(s, kKey, frame, sizeof frame, &len) != 0)
            return "pack: " + Error(s);
        return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
    }
    static int Unpack(TpSession *s, const std::string &frame)
    {
        return TpUnpackMesg(s, reinterpret_cast<const unsigned char *>(frame.data()), static_cast<int>(frame.size()));
    }
    static std::string Error(TpSession *s)
    {
        char text[300] = {};
        TpGetLastErrMesg(s, text, sizeof text);
        return text;
    }
    static std::string Text(TpSession *s, int field)
    {
        char text[1024] = {};
        if (TpGetCellText(s, field, text, sizeof text) != 0)
            return "(none)";
        return text;
    }
};

struct Golden {
    const char *name;
    const char *wire;
    std::vector<Field> fields;
    std::string frame;  // the MAC's 8 bytes as 00 here
    int macAt;          // where the MAC lies in the frame
};

// The same purchase in each preset: 0200, fields 3, 4, 11, 41 and the MAC.
const std::vector<Field> kPurchase = {{3, "000000"}, {4, "000000001250"}, {11, "000123"}, {41, "TERM0001"}};
const std::string kMac8(8, '\0');

std::vector<Golden> Goldens()
{
    const std::string asciiFields =
        "000000"
        "000000001250"
        "000123"
        "TERM0001";
    const std::string bitmap = Unhex("30 20 00 00 00 80 00 01");
    return {
        {"seed", kSeed, kPurchase,
         "\x02"
         "0052"
         "0200" +
             bitmap + asciiFields + kMac8 + "\x03",
         1 + 4 + 4 + 8 + 32},
        {"2-byte length, ASCII fields", kBinary2Ascii, kPurchase,
         Unhex("00 34") + "0200" + bitmap + asciiFields + kMac8, 2 + 4 + 8 + 32},
        {"4 ASCII digits, no envelope", kAscii4Bare, kPurchase,
         "0052"
         "0200" +
             bitmap + asciiFields + kMac8,
         4 + 4 + 8 + 32},
        // 2-byte length counting the TPDU, BCD type, numbers and prefixes:
        // 13 digits of PAN led by a 0 nibble, track 2's separator as D.
        {"TPDU and BCD",
         kNac,
         {{2, "4111111111111"},
          {3, "000000"},
          {4, "000000001250"},
          {11, "000123"},
          {35, "4111111111111=2512"},
          {41, "TERM0001"}},
         Unhex("00 3D 60 00 03 00 00 02 00 70 20 00 00 20 80 00 01 13 04 11 11 11 11 11 11 00 00 00 00 00 00 00 12 50"
               "00 01 23 18 41 11 11 11 11 11 1D 25 12") +
             "TERM0001" + kMac8,
         2 + 5 + 2 + 8 + 8 + 3 + 6 + 3 + 10 + 8},
        // EBCDIC type and text, the bitmap as 16 hexadecimal characters in EBCDIC.
        {"EBCDIC, hexadecimal bitmap", kEbcdicHex, kPurchase,
         Unhex("00 3C"                                            // length: 60
               "F0 F2 F0 F0"                                      // 0200
               "F3 F0 F2 F0 F0 F0 F0 F0 F0 F0 F8 F0 F0 F0 F0 F1"  // 3020000000800001
               "F0 F0 F0 F0 F0 F0"                                // field 3
               "F0 F0 F0 F0 F0 F0 F0 F0 F1 F2 F5 F0"              // field 4
               "F0 F0 F0 F1 F2 F3"                                // field 11
               "E3 C5 D9 D4 F0 F0 F0 F1") +                       // TERM0001
             kMac8,
         2 + 4 + 16 + 32},
        // Field 70 puts a secondary bitmap behind the primary (bit 1) and the
        // MAC into field 128.
        {"secondary bitmap, seed frame",
         kSeed,
         {{3, "000000"}, {70, "301"}},
         "\x02"
         "0037"
         "0200" +
             Unhex("A0 00 00 00 00 00 00 00 04 00 00 00 00 00 00 01") +
             "000000"
             "301" +
             kMac8 + "\x03",
         1 + 4 + 4 + 16 + 9},
        {"secondary bitmap, TPDU and BCD",
         kNac,
         {{3, "000000"}, {70, "301"}},
         Unhex("00 24 60 00 03 00 00 02 00 A0 00 00 00 00 00 00 00 04 00 00 00 00 00 00 01 00 00 00 03 01") + kMac8,
         2 + 5 + 2 + 16 + 3 + 2},
    };
}

TEST_F(DialectTest, EachPresetPacksItsPeersLayoutAndReadsItBack)
{
    for (const Golden &g : Goldens()) {
        auto s = Session(g.wire);
        ASSERT_NE(s, nullptr) << g.name << ": " << LastErr();
        std::string frame = Pack(s.get(), "0200", g.fields);
        ASSERT_EQ(frame.size(), g.frame.size())
            << g.name << ": " << Hex(frame.data(), frame.size()) << " | " << Hex(g.frame.data(), g.frame.size());
        std::string masked = frame;
        masked.replace(static_cast<size_t>(g.macAt), 8, kMac8);
        EXPECT_EQ(Hex(masked.data(), masked.size()), Hex(g.frame.data(), g.frame.size())) << g.name;

        auto r = Session(g.wire, "reader.ini");
        ASSERT_EQ(Unpack(r.get(), frame), 0) << g.name << ": " << Error(r.get());
        EXPECT_EQ(TpCheckMesgMac(r.get(), kKey), 0) << g.name << ": " << Error(r.get());
        EXPECT_EQ(Text(r.get(), 0), "0200") << g.name;
        for (const Field &f : g.fields)
            EXPECT_EQ(Text(r.get(), f.field), f.text) << g.name << " field " << f.field;
        // A byte of the covered fields changed: the MAC no longer agrees.
        std::string changed = frame;
        changed[static_cast<size_t>(g.macAt - 1)] ^= 0x01;
        if (Unpack(r.get(), changed) == 0)
            EXPECT_EQ(TpCheckMesgMac(r.get(), kKey), -1) << g.name;
    }
}

// A reply carries the request's TPDU with destination and source swapped;
// the terminal's next request goes out as configured again.
TEST_F(DialectTest, AReplySwapsTheTpdu)
{
    auto terminal = Session(kNac);
    auto host = Session(kNac, "host.ini");
    ASSERT_NE(terminal, nullptr);
    ASSERT_NE(host, nullptr);
    const std::string request = Pack(terminal.get(), "0200", kPurchase);
    EXPECT_EQ(Hex(request.data() + 2, 5), "60 00 03 00 00");
    ASSERT_EQ(Unpack(host.get(), request), 0) << Error(host.get());
    // A frame from another terminal that fails is answered by no one: the
    // TPDU kept for the reply stays the last good frame's.
    std::string broken = request;
    broken[4] = 0x09;
    broken.resize(broken.size() - 3);
    broken[1] = static_cast<char>(broken.size() - 2);
    ASSERT_EQ(Unpack(host.get(), broken), -1);
    const std::string reply = Pack(host.get(), "0210", {{39, "00"}, {41, "TERM0001"}});
    EXPECT_EQ(Hex(reply.data() + 2, 5), "60 00 00 00 03");
    ASSERT_EQ(Unpack(terminal.get(), reply), 0) << Error(terminal.get());
    EXPECT_EQ(Text(terminal.get(), 39), "00");
    const std::string next = Pack(terminal.get(), "0200", kPurchase);
    EXPECT_EQ(Hex(next.data() + 2, 5), "60 00 03 00 00");
    // Another TPDU id is refused at the header's offset.
    std::string other = request;
    other[2] = 0x61;
    EXPECT_EQ(Unpack(host.get(), other), -1);
    TpError err{};
    err.size = sizeof err;
    TpGetLastError(host.get(), &err);
    EXPECT_EQ(err.offset, 2);
    EXPECT_STREQ(err.text, "tranpak: header at offset 2 is 61 00 03 00 00, expected 60 00 03 00 00");
}

// Every way a frame breaks, with the field and the frame offset named.
TEST_F(DialectTest, BrokenFramesNameTheFieldAndTheOffset)
{
    auto s = Session(kNac);
    ASSERT_NE(s, nullptr);
    const std::string good =
        Pack(s.get(), "0200", {{2, "4111111111111"}, {3, "000000"}, {4, "000000001250"}, {35, "4111111111111=2512"}});
    ASSERT_GT(good.size(), 20u) << good;
    // 00 LL | TPDU 2-6 | MTI 7-8 | bitmap 9-16 | PAN prefix 17, value 18-24 |
    // field 3 25-27 | field 4 28-33 | track 2 prefix 34, value 35-43 | MAC 44-51
    auto with = [&](int at, unsigned char b) {
        std::string f = good;
        f[static_cast<size_t>(at)] = static_cast<char>(b);
        return f;
    };
    auto lengthSays = [&](int n) {
        std::string f = good;
        f[0] = static_cast<char>(n >> 8);
        f[1] = static_cast<char>(n);
        return f;
    };
    std::string cut = good.substr(0, 30);
    cut[1] = static_cast<char>(30 - 2);
    std::string noData = good.substr(0, 17 + 8 + 3 + 6);  // ends before track 2
    noData[1] = static_cast<char>(noData.size() - 2);
    struct Broken {
        const char *name;
        std::string frame;
        int field, offset;
        const char *text;
    } cases[] = {
        {"a frame cut short in field 4", cut, 4, 28,
         "tranpak: BMPCell[3] needs 6 bytes at offset 11, received data has 13"},
        {"a length that disagrees with the frame", lengthSays(static_cast<int>(good.size())), -1, 0,
         "tranpak: the length says a frame of 54 bytes, 52 came"},
        {"a bitmap bit with no data behind it", noData, 35, 34, "tranpak: BMPCell[34] bit set, no data at offset 34"},
        {"a BCD nibble above 9", with(29, 0xA0), 4, 29, "tranpak: BMPCell[3] BCD nibble A at offset 29"},
        {"an odd count whose pad nibble is not 0", with(18, 0xF4), 2, 18,
         "tranpak: BMPCell[1] 13 digits, the pad nibble F at offset 18 is not 0"},
        {"a prefix above the field's maximum", with(34, 0x38), 35, 34, "tranpak: BMPCell[34] len = 38, too long"},
        {"a BCD prefix nibble above 9", with(17, 0x1B), 2, 17, "tranpak: BMPCell[1] BCD nibble B at offset 17"},
        {"a header that differs", with(2, 0x70), -1, 2,
         "tranpak: header at offset 2 is 70 00 03 00 00, expected 60 00 03 00 00"},
        // Fewer bytes than the length itself takes: it says nothing yet.
        {"a frame that ends inside its length", good.substr(0, 1), -1, 0,
         "tranpak: a frame of 1 bytes ends inside its BINARY2 length (2 bytes at offset 0)"},
        {"a type that is no BCD", with(7, 0x0A), 0, 7, "tranpak: txcode BCD nibble A at offset 7"},
    };
    for (const Broken &b : cases) {
        EXPECT_EQ(Unpack(s.get(), b.frame), -1) << b.name;
        TpError err{};
        err.size = sizeof err;
        TpGetLastError(s.get(), &err);
        EXPECT_EQ(err.field, b.field) << b.name;
        EXPECT_EQ(err.offset, b.offset) << b.name;
        EXPECT_STREQ(err.text, b.text) << b.name;
    }
}

TEST_F(DialectTest, EbcdicBytesOutsideTheTableAreRefused)
{
    auto s = Session(kEbcdicHex);
    ASSERT_NE(s, nullptr);
    const std::string good = Pack(s.get(), "0200", kPurchase);
    // field 41 starts at 2 + 4 + 16 + 6 + 12 + 6 = 46; 0x41 is no character of 037.
    std::string bad = good;
    bad[47] = 0x41;
    EXPECT_EQ(Unpack(s.get(), bad), -1);
    EXPECT_EQ(Error(s.get()), "tranpak: BMPCell[40] byte 0x41 at offset 47 is no EBCDIC037 character");
    std::string badMap = good;
    badMap[8] = 0xC7;  // 'G' in EBCDIC: no hexadecimal digit
    EXPECT_EQ(Unpack(s.get(), badMap), -1);
    EXPECT_EQ(Error(s.get()), "tranpak: bitmap byte 0xC7 at offset 8 is no hexadecimal digit");
    // A character EBCDIC has no code for is refused when packing.
    TpResetMesg(s.get());
    TpSetCellText(s.get(), 0, "0200");
    TpSetCellText(s.get(), 41,
                  "TERM\x7F"
                  "001");
    unsigned char frame[512];
    int len = 0;
    EXPECT_EQ(TpPackMesg(s.get(), kKey, frame, sizeof frame, &len), -1);
    EXPECT_EQ(Error(s.get()), "tranpak: PktData(F) BMPCell[40] character 0x7F has no EBCDIC037 code");
}

// EBCDIC 037 and 1047 differ in '[', ']' and '^' only.
TEST_F(DialectTest, TheTwoEbcdicCodePagesDifferWhereTheyShould)
{
    const struct {
        const char *charset;
        const char *hex;
    } pages[] = {{"EBCDIC037", "BA BB B0 C1 81 F0 40 E9"}, {"EBCDIC1047", "AD BD 5F C1 81 F0 40 E9"}};
    for (const auto &p : pages) {
        auto s = Session(std::string("LENGTH=BINARY2\nENVELOPE=NONE\nCHARSET=") + p.charset + "\n");
        ASSERT_NE(s, nullptr) << p.charset;
        const std::string frame = Pack(s.get(), "0200", {{41, "[]^Aa0 Z"}});
        ASSERT_GT(frame.size(), 14u + 8u) << frame;
        EXPECT_EQ(Hex(frame.data() + 14, 8), p.hex) << p.charset;
        ASSERT_EQ(Unpack(s.get(), frame), 0) << Error(s.get());
        EXPECT_EQ(Text(s.get(), 41), "[]^Aa0 Z") << p.charset;
    }
}

// Each length code and what it counts, on the same 20-byte body.
TEST_F(DialectTest, LengthCodesAndWhatTheyCount)
{
    const struct {
        const char *wire;
        const char *head;  // the frame's bytes before the type
    } cases[] = {
        {"LENGTH=BINARY2\n", "02 00 14"},
        {"LENGTH=BINARY2LE\n", "02 14 00"},
        {"LENGTH=BINARY4\nENVELOPE=NONE\n", "00 00 00 14"},
        {"LENGTH=BCD2\nENVELOPE=NONE\n", "00 20"},
        {"LENGTH=HEX4\nENVELOPE=NONE\n", "30 30 31 34"},
        {"LENGTH=ASCII4\nLENGTHCOUNTS=ALL\nENVELOPE=NONE\n", "30 30 32 34"},
        {"LENGTH=BINARY2\nLENGTHCOUNTS=HEADER\nENVELOPE=NONE\nHEADER=TEXT:ISO\n", "00 17 49 53 4F"},
        {"LENGTH=BINARY2\nLENGTHCOUNTS=ALL\nENVELOPE=NONE\nHEADER=HEX:A1B2\n", "00 18 A1 B2"},
        {"LENGTH=NONE\nENVELOPE=NONE\n", ""},
    };
    for (const auto &c : cases) {
        auto s = Session(c.wire);
        ASSERT_NE(s, nullptr) << c.wire << LastErr();
        const std::string frame = Pack(s.get(), "0800", {});
        const std::string head = Unhex(c.head);
        ASSERT_GE(frame.size(), head.size() + 20) << c.wire << frame;
        EXPECT_EQ(Hex(frame.data(), head.size()), Hex(head.data(), head.size())) << c.wire;
        EXPECT_EQ(frame.substr(head.size(), 4), "0800") << c.wire;
        ASSERT_EQ(Unpack(s.get(), frame), 0) << c.wire << Error(s.get());
        EXPECT_EQ(TpCheckMesgMac(s.get(), kKey), 0) << c.wire;
    }
}

TEST_F(DialectTest, UnknownValuesFailInitialisation)
{
    const struct {
        const char *wire;
        const char *log;
    } cases[] = {
        {"LENGTH=BINARY3\n", "tranpak: [Wire Format] LENGTH=BINARY3 is not a value of LENGTH"},
        {"LENGTH=binary2\n", "tranpak: [Wire Format] LENGTH=binary2 is not a value of LENGTH"},
        {"HEADER=TPDU:60000300\n", "tranpak: [Wire Format] HEADER=TPDU:60000300 is not a value of HEADER"},
        {"HEADER=HEX:6G\n", "tranpak: [Wire Format] HEADER=HEX:6G is not a value of HEADER"},
        {"CHARSET=EBCDIC\n", "tranpak: [Wire Format] CHARSET=EBCDIC is not a value of CHARSET"},
        {"NUMBERS=PACKED\n", "tranpak: [Wire Format] NUMBERS=PACKED is not a value of NUMBERS"},
        {"LENGHT=BINARY2\n",
         "tranpak: [Wire Format] key LENGHT is not LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, "
         "BITMAP, CHARSET, NUMBERS, PREFIX or BINARY"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Session(c.wire), nullptr) << c.wire;
        EXPECT_EQ(LastErr(), c.log) << c.wire;
    }
}

// Signed numbers under BCD carry their sign as a first nibble.
TEST_F(DialectTest, SignedNumbersUnderBcd)
{
    WriteFile("bitmap.txt", "DELTA NI 6 5\nMAC B 8 64\n");
    auto s = Session("LENGTH=BINARY2\nENVELOPE=NONE\nNUMBERS=BCD\n");
    ASSERT_NE(s, nullptr);
    const std::string frame = Pack(s.get(), "0200", {{5, "-12"}});
    ASSERT_EQ(frame.size(), 2u + 4 + 8 + 3 + 8) << frame;
    EXPECT_EQ(Hex(frame.data() + 14, 3), "D0 00 12");
    ASSERT_EQ(Unpack(s.get(), frame), 0) << Error(s.get());
    EXPECT_EQ(Text(s.get(), 5), "-12");
}

// TpSetWireFormat sets what the section sets, and refuses what it refuses.
TEST_F(DialectTest, TheDialectSetKeyByKeyEqualsTheSection)
{
    auto bySection = Session(kNac);
    auto byCalls = Session("", "plain.ini");
    ASSERT_NE(bySection, nullptr);
    ASSERT_NE(byCalls, nullptr);
    const std::string seed = Pack(byCalls.get(), "0200", kPurchase);
    EXPECT_EQ(seed.substr(0, 5),
              "\x02"
              "0052");
    const char *const lines[][2] = {
        {"length", "BINARY2"}, {"LengthCounts", "HEADER"}, {"ENVELOPE", "NONE"}, {"HEADER", "TPDU:6000030000"},
        {"MTI", "BCD"},        {"NUMBERS", "BCD"},         {"PREFIX", "BCD"}};
    for (const auto &line : lines)
        ASSERT_EQ(TpSetWireFormat(byCalls.get(), line[0], line[1]), 0) << line[0];
    EXPECT_EQ(Pack(byCalls.get(), "0200", kPurchase), Pack(bySection.get(), "0200", kPurchase));
    EXPECT_EQ(TpSetWireFormat(byCalls.get(), "LENGTH", "BINARY3"), -1);
    EXPECT_EQ(Error(byCalls.get()), "tranpak: [Wire Format] LENGTH=BINARY3 is not a value of LENGTH");
    EXPECT_EQ(TpSetWireFormat(byCalls.get(), "LENGHT", "BINARY2"), -1);
    // A key it does not know is named as one, as the settings file's is.
    EXPECT_EQ(Error(byCalls.get()),
              "tranpak: [Wire Format] key LENGHT is not LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, BITMAP, CHARSET, "
              "NUMBERS, PREFIX or BINARY");
    EXPECT_EQ(TpSetWireFormat(byCalls.get(), nullptr, "BINARY2"), -1);
    // The refusals left the dialect as it was.
    EXPECT_EQ(Pack(byCalls.get(), "0200", kPurchase), Pack(bySection.get(), "0200", kPurchase));
    // Back to the defaults: the seed's frame again.
    for (const auto &line : lines)
        ASSERT_EQ(TpSetWireFormat(byCalls.get(), line[0], ""), 0) << line[0];
    EXPECT_EQ(Pack(byCalls.get(), "0200", kPurchase), seed);
}

// Every kind of field through every preset and back: track 2, variable
// text, variable bytes holding 00, a field above 64; and the seed's frame
// itself, where only field 70 takes the dialect codec's path.
TEST_F(DialectTest, EveryFieldKindRoundTripsInEveryPreset)
{
    const std::vector<Field> fields = {{2, "4111111111111111"},
                                       {4, "000000001250"},
                                       {35, "4111111111111111D2512101"},
                                       {39, "00"},
                                       {48, "ADD DATA [1]"},
                                       {55, "9F0206000000001250005A00"}};
    for (const char *wire : {kSeed, kBinary2Ascii, kNac, kAscii4Bare, kEbcdicHex}) {
        for (bool high : {false, true}) {
            auto s = Session(wire);
            ASSERT_NE(s, nullptr) << wire;
            std::vector<Field> all = fields;
            if (high)
                all.push_back({70, "301"});
            const std::string frame = Pack(s.get(), "0210", all);
            auto r = Session(wire, "reader.ini");
            ASSERT_EQ(Unpack(r.get(), frame), 0) << wire << high << ": " << Error(r.get());
            EXPECT_EQ(TpCheckMesgMac(r.get(), kKey), 0) << wire << high << ": " << Error(r.get());
            for (const Field &f : all)
                EXPECT_EQ(Text(r.get(), f.field),
                          f.field == 35
                              ? "4111111111111111" + std::string(std::strcmp(wire, kNac) == 0 ? "=" : "D") + "2512101"
                              : f.text)
                    << wire << " field " << f.field;
            // The MAC came in field 128 under the secondary bitmap, else in 64.
            EXPECT_EQ(Text(r.get(), 128) != "(none)", high) << wire;
            EXPECT_EQ(Text(r.get(), 64) != "(none)", !high) << wire;
        }
    }
}

}  // namespace
}  // namespace tranpak::test
