// Fields 65 to 128 (those of a secondary bitmap), track 2 data (Z) and
// variable B through the text functions, TpDescribe, TpGetCellDef and the
// blocks of pairs; the classic functions keep fields 1 to 64.
#include "api/session.h"
#include "support/scratch_dir.h"
#include "support/text_session.h"
#include "tranpak.h"

#include <cstring>
#include <memory>
#include <string>

namespace tranpak::test {
namespace {

const char kDefinitions[] =
    "PAN       N     19,2    2\n"
    "AMOUNT    NF    12      4\n"
    "TRACK2    Z     37,2    35\n"
    "ICC       B     255,3   55\n"
    "MAC       B     8       64\n"
    "NETCODE   N     3       70\n"
    "RESERVED  ANS   99,3    100\n"
    "ICC2      B     255,2   110\n"
    "TRACKZ    Z     21      120\n"
    "MAC2      B     8       128\n";

std::unique_ptr<TpSession> Ready(const char *definitions = kDefinitions) { return ReadyOn(definitions); }

std::string Describe(TpSession *s, int flags)
{
    int len = -1;
    TpDescribe(s, flags, nullptr, 0, &len);
    std::string out(static_cast<size_t>(len) + 1, '#');
    EXPECT_EQ(TpDescribe(s, flags, out.data(), len + 1, &len), 0) << LastText(s);
    out.resize(static_cast<size_t>(len));
    return out;
}

using HighFieldTest = ScratchTest;

const std::string kTrack2 = "4761739001010119=25122011758928889";  // 34 characters

struct TextCase {
    int field;
    std::string in;
    std::string out;      // TpGetCellText afterwards, when taken
    std::string refusal;  // the log line of a refusal; empty: taken
};

const TextCase kTextCases[] = {
    // Fields of the secondary bitmap, of every kind.
    {70, "301", "301", ""},
    {70, "3O1", "", "tranpak: TpSetCellText() field 70: 3O1 is not N"},
    {70, "3011", "", "tranpak: TpSetCellText() field 70: 4 characters, the field holds 3"},
    {100, "  free text ", "free text", ""},
    {128, "0102030405060708", "0102030405060708", ""},
    {128, "01020304050607", "", "tranpak: TpSetCellText() field 128: B takes exactly 16 hexadecimal digits, not fewer"},
    {65, "x", "", "tranpak: TpSetCellText() field 65: not in the field definitions"},
    {127, "x", "", "tranpak: TpSetCellText() field 127: not in the field definitions"},
    {129, "x", "", "tranpak: TpSetCellText() field 129: no such field"},
    // Z: digits and at most one separator, '=' or 'D'; refused values are
    // card data, masked in the line.
    {35, kTrack2, "4761739001010119=25122011758928889", ""},
    {35, "4761739001010119D2512201", "4761739001010119D2512201", ""},
    {35, "4761739001010119", "4761739001010119", ""},
    {35, "", "", ""},
    {35, "4761=7390=0101", "",
     "tranpak: TpSetCellText() field 35: **********0101 is not Z (digits and one '=' or 'D')"},
    {35, "4761739001010119d2512", "",
     "tranpak: TpSetCellText() field 35: *****************2512 is not Z (digits and one '=' or 'D')"},
    {35, "4761 7390=2512", "",
     "tranpak: TpSetCellText() field 35: **********2512 is not Z (digits and one '=' or 'D')"},
    {35, "47617390F2512", "", "tranpak: TpSetCellText() field 35: *********2512 is not Z (digits and one '=' or 'D')"},
    {35, "4761739001010119=2512201175892888912345", "",
     "tranpak: TpSetCellText() field 35: 39 characters, the field holds 37"},
    // Z in a field that is no card field by its number is masked all the same.
    {120, "4761739001010119=2512", "4761739001010119=2512", ""},
    {120, "4761739001010119==512", "",
     "tranpak: TpSetCellText() field 120: *****************=512 is not Z (digits and one '=' or 'D')"},
    {120, "4761739001010119=251", "", "tranpak: TpSetCellText() field 120: 20 characters, a fixed Z takes exactly 21"},
    {120, "4761739001010119=25122", "", "tranpak: TpSetCellText() field 120: 22 characters, the field holds 21"},
    // Variable B: two hexadecimal digits a byte, as many bytes as its
    // prefix counts (at most 255 for 3 digits, 99 for 2).
    {55, "9f2701AA", "9F2701AA", ""},
    {55, "", "", ""},
    {55, std::string(510, 'e'), std::string(510, 'E'), ""},
    {55, std::string(512, 'e'), "", "tranpak: TpSetCellText() field 55: 256 bytes, the field holds 255"},
    {55, "9F270", "", "tranpak: TpSetCellText() field 55: B takes hexadecimal digits in pairs, at most 510 of them"},
    {55, std::string(801, '0'), "",
     "tranpak: TpSetCellText() field 55: B takes hexadecimal digits in pairs, at most 510 of them"},
    {55, "9F2G", "", "tranpak: TpSetCellText() field 55: character 4 is not a hexadecimal digit"},
    {110, std::string(198, '1'), std::string(198, '1'), ""},
    {110, std::string(200, '1'), "", "tranpak: TpSetCellText() field 110: 100 bytes, the field holds 99"},
};

TEST_F(HighFieldTest, EveryFieldAndTheNewTypesInAndOutAsText)
{
    auto s = Ready();
    for (const TextCase &c : kTextCases) {
        ASSERT_EQ(TpResetMesg(s.get()), 0);
        // A value set before, which a refusal must leave as it was.
        const bool defined = c.field != 65 && c.field != 127 && c.field != 129;
        const std::string before = c.field == 128                    ? "FFFFFFFFFFFFFFFF"
                                   : c.field == 120                  ? "1111111111111111=1111"
                                   : c.field == 55 || c.field == 110 ? "0A0B"
                                                                     : "123";
        if (defined)
            ASSERT_EQ(TpSetCellText(s.get(), c.field, before.c_str()), 0) << c.field << ": " << LastText(s.get());
        const int rc = TpSetCellText(s.get(), c.field, c.in.c_str());
        if (c.refusal.empty()) {
            EXPECT_EQ(rc, 0) << c.field << " " << c.in << ": " << LastText(s.get());
            EXPECT_EQ(Text(s.get(), c.field), c.out) << c.field << " " << c.in;
        } else {
            EXPECT_EQ(rc, -1) << c.field << " " << c.in;
            EXPECT_EQ(LastText(s.get()), c.refusal) << c.field << " " << c.in;
            EXPECT_EQ(LastErr(), c.refusal) << c.field << " " << c.in;  // the card number stays out of the log
            TpError err{};
            err.size = sizeof err;
            EXPECT_EQ(TpGetLastError(s.get(), &err), TRANPAK_ERR_ARGUMENT) << c.field;
            EXPECT_EQ(err.field, c.field <= 128 ? c.field : -1) << c.field;
            if (defined)
                EXPECT_EQ(Text(s.get(), c.field), before) << c.field << " " << c.in;
        }
    }
}

TEST_F(HighFieldTest, AShorterVariableBReadsBackAtItsOwnLength)
{
    auto s = Ready();
    ASSERT_EQ(TpSetCellText(s.get(), 55, "0102030405060708090A"), 0);
    ASSERT_EQ(TpSetCellText(s.get(), 55, "FFEE"), 0);
    EXPECT_EQ(Text(s.get(), 55), "FFEE");
    ASSERT_EQ(TpSetCellText(s.get(), 55, ""), 0);
    EXPECT_EQ(Text(s.get(), 55), "");
    // An empty value is still a value: in use, and in the description.
    TpCellDef def{};
    ASSERT_EQ(TpGetCellDef(s.get(), 55, &def), 0);
    EXPECT_EQ(def.used, 1);
    EXPECT_EQ(def.varlen, 3);
    EXPECT_EQ(def.maxlen, 255);
}

TEST_F(HighFieldTest, DefinitionsOfEveryFieldAreReported)
{
    auto s = Ready();
    const struct {
        int field, rc;
        const char *name;
        int type, maxlen, varlen;
    } cases[] = {
        {35, 0, "TRACK2", CELL_Z, 37, 2}, {55, 0, "ICC", CELL_B, 255, 3},   {65, 1, "", CELL_ANS, 0, 0},
        {70, 0, "NETCODE", CELL_N, 3, 0}, {110, 0, "ICC2", CELL_B, 255, 2}, {120, 0, "TRACKZ", CELL_Z, 21, 0},
        {128, 0, "MAC2", CELL_B, 8, 0},
    };
    for (const auto &c : cases) {
        TpCellDef def{};
        EXPECT_EQ(TpGetCellDef(s.get(), c.field, &def), c.rc) << c.field;
        EXPECT_STREQ(def.name, c.name) << c.field;
        EXPECT_EQ(def.type, c.type) << c.field;
        EXPECT_EQ(def.maxlen, c.maxlen) << c.field;
        EXPECT_EQ(def.varlen, c.varlen) << c.field;
    }
    TpCellDef def{};
    EXPECT_EQ(TpGetCellDef(s.get(), 129, &def), -1);
    EXPECT_EQ(LastText(s.get()), "tranpak: TpGetCellDef() field 129: no such field or no room");
    EXPECT_EQ(TpGetCellDef(s.get(), 0, &def), -1);
}

// The classic functions keep fields 1 to 64 and their texts, also where
// the definitions list fields beyond; TpResetCell reaches every field.
TEST_F(HighFieldTest, TheClassicFunctionsKeepOneToSixtyFour)
{
    ASSERT_EQ(InitWith(kDefinitions), 0);
    EXPECT_EQ(SetCell(65, "301"), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField(F)_i = 65 ");
    EXPECT_EQ(SetCell(70, "301"), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField(F)_i = 70 ");
    ASSERT_EQ(SetCellText(70, "301"), 0) << LastErr();
    char out[16] = {};
    EXPECT_EQ(GetCell(70, out), -1);
    EXPECT_EQ(ErrLog()[ErrLog().size() - 2], "tranpak: GetField: i = 70");
    EXPECT_EQ(GetCellType(70), -1);
    EXPECT_EQ(ResetCell(70), -1);
    char text[16] = {};
    ASSERT_EQ(GetCellText(70, text, sizeof text), 0);  // ResetCell left it
    EXPECT_STREQ(text, "301");

    auto s = Ready();
    ASSERT_EQ(TpSetCellText(s.get(), 70, "301"), 0);
    ASSERT_EQ(TpSetCellText(s.get(), 128, "0102030405060708"), 0);
    EXPECT_EQ(TpSetCell(s.get(), 70, "302"), -1);
    EXPECT_EQ(TpGetCellType(s.get(), 70), -1);
    EXPECT_EQ(TpResetCell(s.get(), 70), 0);
    EXPECT_EQ(Text(s.get(), 70), "<refused: tranpak: TpGetCellText() field 70 is not in use>");
    EXPECT_EQ(Text(s.get(), 128), "0102030405060708");
    EXPECT_EQ(TpResetCell(s.get(), 129), -1);
    EXPECT_EQ(TpResetCell(s.get(), 0), -1);
}

// SetCell and GetCell take a Z field as text, checked; a variable B field,
// whose length they cannot pass, is refused with a line that says where
// its value goes.
TEST_F(HighFieldTest, TheClassicFunctionsOnTheNewTypes)
{
    ASSERT_EQ(InitWith(kDefinitions), 0);
    ASSERT_EQ(SetCell(35, (" " + kTrack2 + " ").c_str()), 0) << LastErr();
    char out[64] = {};
    ASSERT_EQ(GetCell(35, out), 0);
    EXPECT_EQ(std::string(out), kTrack2);
    EXPECT_EQ(GetCellType(35), CELL_Z);
    EXPECT_EQ(SetCell(35, "4761=7390=0101"), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField BMPCell[34].buf: **********0101 not Z");
    ASSERT_EQ(GetCell(35, out), 0);
    EXPECT_EQ(std::string(out), kTrack2);  // left as it was
    // A fixed Z (field 45 here) takes exactly its length, as packing
    // sends it whole and unfilled.
    ASSERT_EQ(InitWith(std::string(kDefinitions) + "TRACK1Z Z 21 45\n"), 0) << LastErr();
    EXPECT_EQ(SetCell(45, "4761739001010119=251"), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField BMPCell[44].buf: 20 characters, a fixed Z takes exactly 21");
    EXPECT_EQ(SetCell(45, "4761739001010119=2512"), 0) << LastErr();

    const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(SetCell(55, bytes), -1);
    EXPECT_EQ(LastErr(),
              "tranpak: SetField(F) BMPCell[54] is a variable B, set and read as text (TpSetCellText, TpGetCellText)");
    ASSERT_EQ(SetCellText(55, "9F2701"), 0);
    EXPECT_EQ(GetCell(55, out), -1);
    EXPECT_EQ(LastErr(),
              "tranpak: GetField(F) BMPCell[54] is a variable B, set and read as text (TpSetCellText, TpGetCellText)");
}

void Build(TpSession *s)
{
    for (const auto &[field, text] : {std::pair<int, std::string>{0, "0200"},
                                      {128, "0102030405060708"},
                                      {2, "4761739001010119"},
                                      {70, "301"},
                                      {35, kTrack2},
                                      {120, "4761739001010119=2512"},
                                      {55, "9F2701"},
                                      {100, "ok \"quoted\""}})
        ASSERT_EQ(TpSetCellText(s, field, text.c_str()), 0) << field << ": " << LastText(s);
}

TEST_F(HighFieldTest, DescribeShowsEveryFieldInOrderAndMasksTrackTwo)
{
    auto s = Ready();
    Build(s.get());
    const std::string masked =
        "type 0200\n"
        "field  name      type  value\n"
        "    2  PAN       N     ************0119\n"
        "   35  TRACK2    Z     " +
        std::string(30, '*') +
        "8889\n"
        "   55  ICC       B     9F2701\n"
        "   70  NETCODE   N     301\n"
        "  100  RESERVED  ANS   ok \"quoted\"\n"
        "  120  TRACKZ    Z     *****************2512\n"
        "  128  MAC2      B     0102030405060708\n";
    EXPECT_EQ(Describe(s.get(), 0), masked);
    std::string clear = masked;
    clear.replace(clear.find("************0119"), 16, "4761739001010119");
    clear.replace(clear.find(std::string(30, '*') + "8889"), 34, kTrack2);
    clear.replace(clear.find("*****************2512"), 21, "4761739001010119=2512");
    EXPECT_EQ(Describe(s.get(), TP_DESCRIBE_UNMASKED), clear);

    const std::string json =
        "{\"type\": \"0200\", \"fields\": {"
        "\"2\": {\"name\": \"PAN\", \"type\": \"N\", \"value\": \"************0119\"}, "
        "\"35\": {\"name\": \"TRACK2\", \"type\": \"Z\", \"value\": \"" +
        std::string(30, '*') +
        "8889\"}, "
        "\"55\": {\"name\": \"ICC\", \"type\": \"B\", \"value\": \"9F2701\"}, "
        "\"70\": {\"name\": \"NETCODE\", \"type\": \"N\", \"value\": \"301\"}, "
        "\"100\": {\"name\": \"RESERVED\", \"type\": \"ANS\", \"value\": \"ok \\\"quoted\\\"\"}, "
        "\"120\": {\"name\": \"TRACKZ\", \"type\": \"Z\", \"value\": \"*****************2512\"}, "
        "\"128\": {\"name\": \"MAC2\", \"type\": \"B\", \"value\": \"0102030405060708\"}}}";
    EXPECT_EQ(Describe(s.get(), TP_DESCRIBE_JSON), json);
}

// A block of pairs names fields up to 128, three digits at most, and comes
// back in field order.
TEST_F(HighFieldTest, BlocksOfPairsReachEveryField)
{
    auto s = Ready();
    const char block[] =
        "128\0"
        "0102030405060708\0"
        "0\0"
        "0200\0"
        "100\0"
        "abc\0"
        "55\0"
        "9F27\0"
        "70\0"
        "301\0";
    ASSERT_EQ(TpSetCellTexts(s.get(), block), 0) << LastText(s.get());
    char out[256];
    int len = 0;
    ASSERT_EQ(TpGetCellTexts(s.get(), out, sizeof out, &len), 0);
    const char want[] =
        "0\0"
        "0200\0"
        "55\0"
        "9F27\0"
        "70\0"
        "301\0"
        "100\0"
        "abc\0"
        "128\0"
        "0102030405060708\0";
    EXPECT_EQ(std::string(out, static_cast<size_t>(len)), std::string(want, sizeof want));
    const char refused[] =
        "0128\0"
        "x\0";
    EXPECT_EQ(TpSetCellTexts(s.get(), refused), -1);
    EXPECT_EQ(LastText(s.get()), "tranpak: TpSetCellTexts() pair 1: \"0128\" is not a field 0 to 128");
}

}  // namespace
}  // namespace tranpak::test
