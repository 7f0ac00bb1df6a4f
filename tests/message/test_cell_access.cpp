// SetCell, GetCell and the other field access functions.
#include "api/session.h"
#include "message/mesg_state.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace tranpak::test {
namespace {

// One field of every type, fixed and variable.
const char kAllTypes[] =
    "TEXT   ANS  20     2\n"
    "INT    NI   11     3\n"
    "AMOUNT NF   12     4\n"
    "ALPHA  A    10     5\n"
    "ALNUM  AN   10     6\n"
    "NUM    N    19,2   7\n"
    "BIN    B    8      8\n"
    "NFV    NF   40,2   9\n"
    "MAC    B    8      64\n";

class CellTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kAllTypes), 0);
    }
    static std::string Text(int field)
    {
        char out[kCellBufSize + 1];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(GetCell(field, out), 0) << field;
        return out;
    }
    static double Amount(int field)
    {
        double v = -999;
        EXPECT_EQ(GetCell(field, &v), 0) << field;
        return v;
    }
};

TEST_F(CellTest, MessageTypeIsExactlyFourCharacters)
{
    char out[8];
    EXPECT_EQ(GetCell(0, out), 0);  // works before any SetCell
    EXPECT_STREQ(out, "");
    EXPECT_EQ(SetCell(0, "0200"), 0);
    EXPECT_EQ(Text(0), "0200");
    for (const char *bad : {"020", "02000", ""}) {
        EXPECT_EQ(SetCell(0, bad), -1);
        EXPECT_EQ(LastErr(), std::string("tranpak: SetField: txcode is ") + bad);
        EXPECT_EQ(Text(0), "0200");
    }
    EXPECT_EQ(SetCell(0, " 2 x"), 0);  // neither trimmed nor checked
    EXPECT_EQ(Text(0), " 2 x");
    EXPECT_EQ(DefaultMesg().packet.bitmap[0], 0);
    EXPECT_EQ(GetCellType(0), 0);
}

TEST_F(CellTest, ResetMesgKeepsTheMessageType)
{
    SetCell(0, "0800");
    SetCell(2, "abc");
    ResetMesg();
    EXPECT_EQ(Text(0), "0800");
    char out[8];
    EXPECT_EQ(GetCell(2, out), -1);
}

TEST_F(CellTest, FieldNumbersOutOfRangeAreRefused)
{
    EXPECT_EQ(SetCell(65, "x"), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField(F)_i = 65 ");
    EXPECT_EQ(SetCell(-1, "x"), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField(F)_i = -1 ");
    char out[8];
    EXPECT_EQ(GetCell(65, out), -1);
    EXPECT_EQ(ErrLog().back(), "");  // the message ends in its own line feed
    EXPECT_EQ(ErrLog()[ErrLog().size() - 2], "tranpak: GetField: i = 65");
    EXPECT_EQ(GetCellType(65), -1);
    EXPECT_EQ(GetCellType(-1), -1);
    EXPECT_EQ(ResetCell(0), -1);
    EXPECT_EQ(ResetCell(65), -1);
}

TEST_F(CellTest, UnsetFieldIsNotUsedAndOutputIsUntouched)
{
    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(GetCell(3, out), -1);
    EXPECT_EQ(LastErr(), "tranpak: BMPCell[2] is not used");
    EXPECT_EQ(out[0], '#');
}

TEST_F(CellTest, NullPointersAreRefused)
{
    EXPECT_EQ(SetCell(2, nullptr), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField(F) field 2 value is NULL");
    SetCell(2, "x");
    EXPECT_EQ(GetCell(2, nullptr), -1);
    EXPECT_EQ(LastErr(), "tranpak: GetField(F) field 2 out is NULL");
    EXPECT_EQ(CheckMesgMac(nullptr), -1);
}

// Text values: field, value given, result, stored text or logged message.
struct TextCase {
    int field;
    const char *value;
    int rc;
    const char *storedOrMessage;
};

const TextCase kTextCases[] = {
    {7, "  12 ", 0, "12"},
    {7, "12\t", -1, "tranpak: SetField BMPCell[6].buf: 12\\x09 not N"},
    {7, "+", 0, "+"},
    {7, "-12", 0, "-12"},
    {7, "1-2", -1, "tranpak: SetField BMPCell[6].buf: 1-2 not N"},
    {7, "+-1", -1, "tranpak: SetField BMPCell[6].buf: +-1 not N"},
    {7, "1.5", -1, "tranpak: SetField BMPCell[6].buf: 1.5 not N"},
    {7, "", 0, ""},
    {7, "   ", 0, ""},
    {5, "\tAB\t", 0, "AB\t"},
    {5, "AB1", -1, "tranpak: SetField BMPCell[4].buf: AB1 not A"},
    {5, "", 0, ""},
    {6, " ab 12 ", 0, "ab 12"},
    {6, "ab-12", -1, "tranpak: SetField BMPCell[5].buf: ab-12 not AN"},
    {2, " \t any *chars* \t ", 0, "any *chars* \t"},
    {2, "a\xff\x01z", 0, "a\xff\x01z"},
    {20, " undefined ", 0, "undefined"},  // not in the definition file: stored as ANS
};

TEST_F(CellTest, TextValuesAreTrimmedAndChecked)
{
    for (const TextCase &c : kTextCases) {
        ResetMesg();
        EXPECT_EQ(SetCell(c.field, c.value), c.rc) << c.value;
        if (c.rc == 0) {
            EXPECT_EQ(Text(c.field), c.storedOrMessage) << c.value;
            EXPECT_EQ(DefaultMesg().cells[c.field - 1].used, 1);
        } else {
            EXPECT_EQ(LastErr(), c.storedOrMessage);
            EXPECT_EQ(DefaultMesg().cells[c.field - 1].used, 0);
        }
    }
}

TEST_F(CellTest, RefusedTextLeavesTheFieldAsItWas)
{
    ASSERT_EQ(SetCell(7, "42"), 0);
    EXPECT_EQ(SetCell(7, "4x"), -1);
    EXPECT_EQ(Text(7), "42");
    EXPECT_EQ(DefaultMesg().cells[6].used, 1);
}

TEST_F(CellTest, TextLongerThanTheWorkingCopyIsRefused)
{
    std::string fits(295, 'x');
    EXPECT_EQ(SetCell(2, fits.c_str()), 0);
    EXPECT_EQ(Text(2), fits);
    std::string tooLong(296, 'y');
    EXPECT_EQ(SetCell(2, tooLong.c_str()), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField BMPCell[1].buf: text has over 295 characters");
    EXPECT_EQ(Text(2), fits);
}

TEST_F(CellTest, IntegersRoundTrip)
{
    for (int v : {0, 42, -7, 2147483647, -2147483647 - 1}) {
        ASSERT_EQ(SetCell(3, &v), 0);
        int back = 1;
        ASSERT_EQ(GetCell(3, &back), 0);
        EXPECT_EQ(back, v);
    }
    int min = -2147483647 - 1;
    SetCell(3, &min);
    EXPECT_STREQ(DefaultMesg().cells[2].buf, "-2147483648");
}

TEST_F(CellTest, AmountsAreStoredInHundredths)
{
    struct {
        double value;
        const char *stored;
        double back;
    } cases[] = {
        {12.5, "1250", 12.5},
        {0, "000", 0},
        {-0.05, "-005", -0.05},
        {0.125, "013", 0.13},
        {2.675, "267", 2.67},
        {-0.125, "-013", -0.13},
        {1e20, "10000000000000000000000", 1e20},
        // Amounts that round to zero carry no sign.
        {-0.0, "000", 0},
        {-0.001, "000", 0},
        {0.3 - 0.1 - 0.2, "000", 0},
        {-0.005, "-001", -0.01},
    };
    for (auto &c : cases) {
        ASSERT_EQ(SetCell(4, &c.value), 0) << c.value;
        EXPECT_STREQ(DefaultMesg().cells[3].buf, c.stored);
        EXPECT_EQ(Amount(4), c.back);
    }
}

TEST_F(CellTest, RefusedAmountLeavesTheFieldAsItWas)
{
    double ok = 12.5;
    ASSERT_EQ(SetCell(4, &ok), 0);
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(SetCell(4, &inf), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField BMPCell[3].buf: nf not NF");
    double nan = std::nan("");
    EXPECT_EQ(SetCell(4, &nan), -1);
    double huge = 1e36;
    EXPECT_EQ(SetCell(4, &huge), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField BMPCell[3].buf: amount has over 39 characters");
    EXPECT_STREQ(DefaultMesg().cells[3].buf, "1250");
    EXPECT_EQ(DefaultMesg().cells[3].used, 1);
    EXPECT_EQ(Amount(4), 12.5);
}

TEST_F(CellTest, RefusedAmountOnAnEmptyFieldLeavesItUnused)
{
    double inf = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(SetCell(4, &inf), -1);
    EXPECT_EQ(DefaultMesg().cells[3].used, 0);
    EXPECT_STREQ(DefaultMesg().cells[3].buf, "");
}

TEST_F(CellTest, ReceivedNumbersConvertWithFillAndSign)
{
    // As unpacking leaves them: the text exactly as it travelled.
    auto receive = [](int field, const char *text) {
        std::strcpy(DefaultMesg().cells[field - 1].buf, text);
        DefaultMesg().cells[field - 1].used = 1;
    };
    receive(4, "+0001250");
    EXPECT_EQ(Amount(4), 12.5);
    receive(4, "-00000005");
    EXPECT_EQ(Amount(4), -0.05);
    receive(4, "-5");  // a sign and one digit keep the sign
    EXPECT_EQ(Amount(4), -0.05);
    receive(4, "+5");
    EXPECT_EQ(Amount(4), 0.05);
    receive(3, "-00000042");
    int v = 0;
    GetCell(3, &v);
    EXPECT_EQ(v, -42);
    receive(3, "99999999999");
    GetCell(3, &v);
    EXPECT_EQ(v, 2147483647);
}

TEST_F(CellTest, AmountTextsOutsideTwoTo38CharactersAreRefused)
{
    double v = 0;
    for (std::string text : {std::string("5"), std::string(""), std::string(39, '1')}) {
        std::strcpy(DefaultMesg().cells[8].buf, text.c_str());
        DefaultMesg().cells[8].used = 1;
        EXPECT_EQ(GetCell(9, &v), -1) << text;
    }
    std::strcpy(DefaultMesg().cells[8].buf, std::string(38, '1').c_str());
    EXPECT_EQ(GetCell(9, &v), 0);
}

TEST_F(CellTest, BinaryFieldsCopyExactlyMaxlenBytes)
{
    const unsigned char in[10] = {0x00, 0x01, 0xFF, 0x00, 0x30, 0x0A, 0x0D, 0x00, 0xEE, 0xEE};
    ASSERT_EQ(SetCell(8, in), 0);
    unsigned char out[10];
    std::memset(out, 0xAA, sizeof out);
    ASSERT_EQ(GetCell(8, out), 0);
    EXPECT_EQ(std::memcmp(in, out, 8), 0);
    EXPECT_EQ(out[8], 0xAA);  // nothing beyond maxlen
    EXPECT_EQ(GetCellType(8), CELL_B);
}

TEST_F(CellTest, ResetCellEmptiesOneField)
{
    SetCell(2, "abc");
    SetCell(6, "x1");
    EXPECT_EQ(ResetCell(2), 0);
    char out[8];
    EXPECT_EQ(GetCell(2, out), -1);
    EXPECT_EQ(LastErr(), "tranpak: BMPCell[1] is not used");
    EXPECT_EQ(Text(6), "x1");
    for (char c : DefaultMesg().cells[1].buf)
        ASSERT_EQ(c, 0);
}

TEST_F(CellTest, ResetMesgClearsFrameAndValuesButNotDefinitions)
{
    SetCell(2, "abc");
    DefaultMesg().packet.bitmap[0] = 0xFF;
    DefaultMesg().packet.start = 0x7E;
    DefaultMesg().packet.len = 77;
    std::memset(DefaultMesg().packet.data, 'd', 4);
    ResetMesg();
    EXPECT_EQ(DefaultMesg().packet.start, 0x02);
    EXPECT_EQ(DefaultMesg().packet.stop, 0x03);
    EXPECT_EQ(DefaultMesg().packet.bitmap[0], 0);
    EXPECT_EQ(DefaultMesg().packet.data[0], 0);
    EXPECT_EQ(DefaultMesg().packet.data[1], 'd');
    EXPECT_EQ(DefaultMesg().packet.len, 77);
    EXPECT_EQ(DefaultMesg().cells[1].used, 0);
    EXPECT_EQ(DefaultMesg().cells[1].maxlen, 20);
    EXPECT_STREQ(DefaultMesg().cells[1].name, "TEXT");
}

TEST_F(CellTest, TypesAreReportedWhetherOrNotUsed)
{
    const int want[] = {CELL_ANS, CELL_NI, CELL_NF, CELL_A, CELL_AN, CELL_N, CELL_B};
    for (int field = 2; field <= 8; ++field)
        EXPECT_EQ(GetCellType(field), want[field - 2]);
    EXPECT_EQ(GetCellType(20), 0);
}

TEST_F(CellTest, BackupAndRestoreTheWholeMessage)
{
    SetCell(0, "0200");
    SetCell(2, "before");
    BackupMesg();
    SetCell(0, "0210");
    SetCell(2, "after");
    SetCell(6, "x");
    DefaultMesg().cells[1].maxlen = 3;
    for (int round = 0; round < 2; ++round) {
        RestoreMesg();
        EXPECT_EQ(Text(0), "0200");
        EXPECT_EQ(Text(2), "before");
        EXPECT_EQ(DefaultMesg().cells[5].used, 0);
        EXPECT_EQ(DefaultMesg().cells[1].maxlen, 20);
    }
}

TEST_F(CellTest, RestoreBeforeAnyBackupGivesTheZeroState)
{
    SetCell(2, "abc");
    EXPECT_EQ(RestoreMesg(), 0);
    EXPECT_EQ(DefaultMesg().packet.start, 0);
    EXPECT_EQ(DefaultMesg().packet.stop, 0);
    for (const BMPCell &c : DefaultMesg().cells) {
        EXPECT_EQ(c.used, 0);
        EXPECT_EQ(c.maxlen, 0);
        EXPECT_EQ(c.type, 0);
    }
}

TEST_F(CellTest, RefusedTypeCodeIsReported)
{
    DefaultMesg().cells[9].type = -1;  // as a refused type text leaves it
    EXPECT_EQ(SetCell(10, "x"), -1);
    EXPECT_EQ(LastErr(), "tranpak: SetField(F)_BMPCell[9].type = -1");
}

}  // namespace
}  // namespace tranpak::test
