// The field definition file reader.
#include "api/session.h"
#include "message/bmpfile.h"
#include "message/mesg_state.h"
#include "support/scratch_dir.h"

#include <cstring>

namespace tranpak::test {
namespace {

using DefinitionFileTest = ScratchTest;

struct Record {
    int index;
    const char *name;
    int type, maxlen, varlen;
};

void ExpectRecord(const Record &r)
{
    const BMPCell &c = DefaultMesg().cells[r.index];
    EXPECT_STREQ(c.name, r.name) << "record " << r.index;
    EXPECT_EQ(c.type, r.type) << "record " << r.index;
    EXPECT_EQ(c.maxlen, r.maxlen) << "record " << r.index;
    EXPECT_EQ(c.varlen, r.varlen) << "record " << r.index;
}

bool AllUndefined()
{
    for (const BMPCell &c : DefaultMesg().cells)
        if (c.maxlen != 0 || c.varlen != 0 || c.type != 0 || c.name[0] != '\0')
            return false;
    return true;
}

TEST_F(DefinitionFileTest, ExampleFileFillsExactlyItsRecords)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    const Record want[] = {
        {1, "PAN", 5, 19, 2},    {2, "PROCCODE", 5, 6, 0},   {3, "AMOUNT", 2, 12, 0},
        {40, "TERMID", 0, 8, 0}, {47, "ADDDATA", 0, 120, 3}, {63, "MAC", 6, 8, 0},
    };
    for (const Record &r : want)
        ExpectRecord(r);
    for (int i : {0, 4, 39, 41, 46, 62})
        ExpectRecord({i, "", 0, 0, 0});
}

TEST_F(DefinitionFileTest, EmptyAndCommentOnlyFilesLeaveEveryFieldUndefined)
{
    for (const char *file : {"", "# only a comment\n\n   \n\t# another\n", "\r\n  \r\n#x\r\n", "   "}) {
        DefaultMesg() = MesgState{};
        EXPECT_EQ(InitWith(file), 0) << file;
        EXPECT_TRUE(AllUndefined()) << file;
        EXPECT_TRUE(ErrLog().empty()) << file;
    }
}

TEST_F(DefinitionFileTest, LineEndsDoNotMatter)
{
    const std::string lf = "# fields\n\nPAN N 19,2 2\n\nTERMID ANS 8 41";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_EQ(InitWith(lf), 0);
    ExpectRecord({1, "PAN", 5, 19, 2});
    ExpectRecord({40, "TERMID", 0, 8, 0});  // last line without a line end
    DefaultMesg() = MesgState{};
    ASSERT_EQ(InitWith(crlf), 0);
    ExpectRecord({1, "PAN", 5, 19, 2});
    ExpectRecord({40, "TERMID", 0, 8, 0});
}

TEST_F(DefinitionFileTest, CtrlZEndsTheFileAsInWindowsTextMode)
{
    ASSERT_EQ(InitWith(std::string("X AN 10 5\r\nY AN 20 6\x1A\nZ AN 30 7\nbroken line\n")), 0) << LastErr();
    ExpectRecord({4, "X", 4, 10, 0});
    ExpectRecord({5, "Y", 4, 20, 0});
    ExpectRecord({6, "", 0, 0, 0});
}

TEST_F(DefinitionFileTest, TextAfterACarriageReturnInsideALineIsIgnored)
{
    ASSERT_EQ(InitWith("X AN 10 5\rY AN 20 6\n"), 0);
    ExpectRecord({4, "X", 4, 10, 0});
    ExpectRecord({5, "", 0, 0, 0});
}

TEST_F(DefinitionFileTest, CommentsStartWithHashAfterBlanks)
{
    ASSERT_EQ(InitWith("  # remark AN 10 5\nA#B AN 10 6 trailing remark\n"), 0);
    ExpectRecord({4, "", 0, 0, 0});
    ExpectRecord({5, "A#B", 4, 10, 0});
}

// One definition line, what Init8583 returns, the message it logs, and the
// record it leaves.
struct LineCase {
    const char *line;
    int rc;
    const char *message;  // "" when nothing is logged
    Record record;
};

const LineCase kLineCases[] = {
    {"X AN 10 1", 0, "", {0, "X", 4, 10, 0}},
    {"X AN 10 64", 0, "", {63, "X", 4, 10, 0}},
    {"X AN 10 0", -1, "tranpak: InitOntCell() cellpos error (pos = 0)", {0, "", 0, 0, 0}},
    {"X AN 10 129", -1, "tranpak: InitOntCell() cellpos error (pos = 129)", {127, "", 0, 0, 0}},
    {"X AN 10 65", 0, "", {64, "X", 4, 10, 0}},
    {"X AN 10 100", 0, "", {99, "X", 4, 10, 0}},
    {"X AN 10 128", 0, "", {127, "X", 4, 10, 0}},
    {"X AN 10 -3", -1, "tranpak: InitOntCell() cellpos error (pos = -3)", {0, "", 0, 0, 0}},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZ123 AN 10 5", 0, "", {4, "ABCDEFGHIJKLMNOPQRSTUVWXYZ123", 4, 10, 0}},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZ1234 AN 10 5",
     -1,
     "tranpak: InitOntCell() cellname too long (len = 30)",
     {4, "", 0, 0, 0}},
    {"X ANSAN 10 5", -1, "tranpak: InitOntCell() celltype too long (len = 5)", {4, "", 0, 0, 0}},
    {"X ANSB 10 5", -1, "tranpak: celltype define error (type:ANSB)", {4, "X", -1, 0, 0}},
    {"X an 10 5", -1, "tranpak: celltype define error (type:an)", {4, "X", -1, 0, 0}},
    {"X AN 123456789012345678901 5", -1, "tranpak: InitOntCell() celllen too long (len = 21)", {4, "", 0, 0, 0}},
    {"X N 19,2 7", 0, "", {6, "X", 5, 19, 2}},
    {"X N 12 7", 0, "", {6, "X", 5, 12, 0}},
    {"X N 12, 7", 0, "", {6, "X", 5, 12, 0}},
    {"X N 12,0 7", 0, "", {6, "X", 5, 12, 0}},
    {"X N 12,3xyz 7", 0, "", {6, "X", 5, 12, 3}},
    {"X N 0 7", 0, "", {6, "X", 5, 0, 0}},
    {"X N -5 7", -1, "tranpak: InitCellLen() cell define error (BMPCell[6]maxlen = -5)", {6, "X", 5, 0, 0}},
    {"X N 5,-1 7",
     -1,
     "tranpak: InitCellLen() cell define error (BMPCell[6]maxlen = 5, BMPCell[6]varlen = -1)",
     {6, "X", 5, 0, 0}},
    {"X N LL 7", -1, "tranpak: InitCellLen() celllen define format error (6 LL)", {6, "X", 5, 0, 0}},
    // Limits of the field buffers.
    {"X ANS 399 7", 0, "", {6, "X", 0, 399, 0}},
    {"X B 400 7", 0, "", {6, "X", 6, 400, 0}},
    {"X ANS 400 7",
     -1,
     "tranpak: InitCellLen() cell define error (BMPCell[6]maxlen = 400, over 399)",
     {6, "X", 0, 0, 0}},
    {"X B 401 7", -1, "tranpak: InitCellLen() cell define error (BMPCell[6]maxlen = 401, over 400)", {6, "X", 6, 0, 0}},
    // Track 2 data and variable B, fixed and variable alike.
    {"TRACK2 Z 37,2 35", 0, "", {34, "TRACK2", 7, 37, 2}},
    {"TRACK2 Z 37 35", 0, "", {34, "TRACK2", 7, 37, 0}},
    {"X Z 399 7", 0, "", {6, "X", 7, 399, 0}},
    {"X Z 400 7", -1, "tranpak: InitCellLen() cell define error (BMPCell[6]maxlen = 400, over 399)", {6, "X", 7, 0, 0}},
    {"X z 37 7", -1, "tranpak: celltype define error (type:z)", {6, "X", -1, 0, 0}},
    {"ICC B 255,3 55", 0, "", {54, "ICC", 6, 255, 3}},
    {"ICC B 400,3 55", 0, "", {54, "ICC", 6, 400, 3}},
    {"ICC B 401,3 55",
     -1,
     "tranpak: InitCellLen() cell define error (BMPCell[54]maxlen = 401, over 400)",
     {54, "ICC", 6, 0, 0}},
    {"ICC B 255,3 110", 0, "", {109, "ICC", 6, 255, 3}},
    {"X ANS 99,11 7", 0, "", {6, "X", 0, 99, 11}},
    {"X ANS 99,12 7",
     -1,
     "tranpak: InitCellLen() cell define error (BMPCell[6]varlen = 12, over 11)",
     {6, "X", 0, 0, 0}},
    {"X N 99999999999999999999 7",
     -1,
     "tranpak: InitCellLen() cell define error (BMPCell[6]maxlen = 2147483647, over 399)",
     {6, "X", 5, 0, 0}},
    // Lines that do not give all four items define nothing.
    {"X AN 10", -1, "tranpak: InitOntCell() cell define incomplete (items = 3)", {0, "", 0, 0, 0}},
    {"X", -1, "tranpak: InitOntCell() cell define incomplete (items = 1)", {0, "", 0, 0, 0}},
    {"X AN 10 five", -1, "tranpak: InitOntCell() cellpos not number (pos = five)", {0, "", 0, 0, 0}},
    {"X AN 10 5x", -1, "tranpak: InitOntCell() cellpos not number (pos = 5x)", {4, "", 0, 0, 0}},
    {"\tX\tAN\t10\t5\t# remark", 0, "", {4, "X", 4, 10, 0}},
};

TEST_F(DefinitionFileTest, EachLineIsCheckedInOrder)
{
    for (const LineCase &c : kLineCases) {
        DefaultMesg() = MesgState{};
        std::filesystem::remove("errlog.txt");
        EXPECT_EQ(InitWith(std::string(c.line) + "\n"), c.rc) << c.line;
        EXPECT_EQ(LastErr(), c.message) << c.line;
        EXPECT_LE(ErrLog().size(), 1u) << c.line;
        ExpectRecord(c.record);
    }
}

TEST_F(DefinitionFileTest, FieldsOfTheSecondaryBitmapAreDefinedLikeAnyOther)
{
    ASSERT_EQ(InitWith("PAN N 19,2 2\nNETCODE N 3 70\nRESERVED ANS 999,3 100\nICC B 255,3 110\n"
                       "TRACK2 Z 37,2 120\nMAC2 B 8 128\nMAC B 8 64\n"),
              -1)
        << "999 is over 399";
    EXPECT_EQ(LastErr(), "tranpak: InitCellLen() cell define error (BMPCell[99]maxlen = 999, over 399)");
    DefaultMesg() = MesgState{};
    std::filesystem::remove("errlog.txt");
    ASSERT_EQ(InitWith("PAN N 19,2 2\nNETCODE N 3 70\nRESERVED ANS 99,3 100\nICC B 255,3 110\n"
                       "TRACK2 Z 37,2 120\nMAC2 B 8 128\nMAC B 8 64\n"),
              0)
        << LastErr();
    const Record want[] = {
        {1, "PAN", 5, 19, 2},      {69, "NETCODE", 5, 3, 0}, {99, "RESERVED", 0, 99, 3}, {109, "ICC", 6, 255, 3},
        {119, "TRACK2", 7, 37, 2}, {127, "MAC2", 6, 8, 0},   {63, "MAC", 6, 8, 0},
    };
    for (const Record &r : want)
        ExpectRecord(r);
    for (int i : {0, 64, 68, 70, 126})
        ExpectRecord({i, "", 0, 0, 0});
    EXPECT_TRUE(ErrLog().empty());
}

// Bit 1 announces the secondary bitmap: field 1 cannot carry data in a
// layout with any of fields 65 to 128, whichever line comes first.
TEST_F(DefinitionFileTest, FieldOneIsRefusedBesideTheFieldsOfTheSecondaryBitmap)
{
    const struct {
        const char *file;
        int rc;
        const char *message;
    } cases[] = {
        {"BITMAP B 8 1\nNETCODE N 3 70\n", -1,
         "tranpak: ReadBMPFile() field 1 is the secondary bitmap's bit (field 70 defined)"},
        {"MAC2 B 8 128\nPAN N 19,2 2\nBITMAP B 8 1\n", -1,
         "tranpak: ReadBMPFile() field 1 is the secondary bitmap's bit (field 128 defined)"},
        {"BITMAP B 8 1\nA N 3 65\nB N 3 66\n", -1,
         "tranpak: ReadBMPFile() field 1 is the secondary bitmap's bit (field 65 defined)"},
        // Without field 1, or with field 1 and no field above 64, or with
        // field 1 left undefined (length 0), the file is read.
        {"PAN N 19,2 2\nNETCODE N 3 70\n", 0, ""},
        {"BITMAP B 8 1\nMAC B 8 64\n", 0, ""},
        {"BITMAP B 0 1\nNETCODE N 3 70\n", 0, ""},
        {"BITMAP B 8 1\nNETCODE N 0 70\n", 0, ""},
    };
    for (const auto &c : cases) {
        DefaultMesg() = MesgState{};
        std::filesystem::remove("errlog.txt");
        EXPECT_EQ(InitWith(c.file), c.rc) << c.file;
        EXPECT_EQ(LastErr(), c.message) << c.file;
        EXPECT_LE(ErrLog().size(), 1u) << c.file;
    }
    // The refusal names field 1 and the file in its detail.
    DefaultMesg() = MesgState{};
    ASSERT_EQ(InitWith("BITMAP B 8 1\nNETCODE N 3 70\n"), -1);
    TpError err{};
    err.size = sizeof err;
    ASSERT_EQ(GetLastErrInfo(&err), TRANPAK_ERR_SETTINGS);
    EXPECT_EQ(err.field, 1);
    EXPECT_EQ(std::string(err.detail),
              "definitions bitmap.txt: field 1 is defined, and field 70 needs the secondary "
              "bitmap whose bit is bit 1");
}

TEST_F(DefinitionFileTest, LaterLineForTheSamePositionWins)
{
    ASSERT_EQ(InitWith("PAN N 19,2 2\nOTHER ANS 12 2\n"), 0);
    ExpectRecord({1, "OTHER", 0, 12, 0});
}

TEST_F(DefinitionFileTest, AFailingLineStopsTheReading)
{
    EXPECT_EQ(InitWith("A N 6 3\nB XX 6 4\nC N 6 5\n"), -1);
    ExpectRecord({2, "A", 5, 6, 0});
    ExpectRecord({3, "B", -1, 0, 0});
    ExpectRecord({4, "", 0, 0, 0});
    EXPECT_EQ(DefaultMesg().packet.start, 0x00);  // the frame is not prepared
}

TEST_F(DefinitionFileTest, RefusedTypeDropsTheLengthOfAnEarlierLine)
{
    // Found by fuzzing: B 400 fits a B field but not a text one; a later
    // refused type for the same field must not leave 400 behind.
    EXPECT_EQ(InitWith("Y B 400 8\nY B* 10 8\n"), -1);
    ExpectRecord({7, "Y", -1, 0, 0});
    DefaultMesg() = MesgState{};
    EXPECT_EQ(InitWith("Y B 400 8\nZ ANS ( 8\n"), -1);
    ExpectRecord({7, "Z", 0, 0, 0});
}

TEST_F(DefinitionFileTest, LongLinesAreReadInPiecesOf255)
{
    // The first piece is 255 characters: a definition whose remark fills
    // it; the second piece is the rest of the line, a definition of its own.
    std::string first = "X AN 10 5 ";
    first += std::string(255 - first.size(), 'r');
    ASSERT_EQ(InitWith(first + "Y AN 20 6\n"), 0);
    ExpectRecord({4, "X", 4, 10, 0});
    ExpectRecord({5, "Y", 4, 20, 0});
}

TEST_F(DefinitionFileTest, StripLineEndCutsAtTheFirstCrOrLf)
{
    struct {
        const char *in, *out;
    } cases[] = {{"abc\r\n", "abc"}, {"abc\n", "abc"}, {"a\rb\nc", "a"}, {"plain", "plain"}, {"", ""}};
    for (auto &c : cases) {
        char text[16];
        std::strcpy(text, c.in);
        EXPECT_EQ(StripLineEnd(text), 0);
        EXPECT_STREQ(text, c.out);
    }
}

}  // namespace
}  // namespace tranpak::test
