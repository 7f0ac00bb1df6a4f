// Error log and communication trace.
#include "api/session.h"
#include "message/mesg_state.h"
#include "diag/ctrace.h"
#include "diag/errlog.h"
#include "support/scratch_dir.h"

#include <cstring>
#include <functional>
#include <regex>

namespace tranpak::test {
namespace {

class DiagTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        std::strcpy(DefaultMesg().settings.errfile, "errlog.txt");
        std::strcpy(DefaultMesg().settings.ctracefile, "ctrace.txt");
    }
};

TEST_F(DiagTest, StampIsYearMonthDayAndTime)
{
    std::tm when{};
    when.tm_year = 2027 - 1900;
    when.tm_mon = 1;
    when.tm_mday = 1;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 3;
    char stamp[kStampSize];
    FormatStamp(when, stamp);
    EXPECT_STREQ(stamp, "2027-02-01 09:05:03");
}

TEST_F(DiagTest, ErrorLogLineIsStampAndMessage)
{
    EXPECT_EQ(WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: BMPCell[%d] undefined", 7), 0);
    EXPECT_EQ(WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: ReadBMPFile() open BMPfile fail"), 0);
    std::string text = ReadTextFile("errlog.txt");
    std::regex line(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] (.*)\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, line));
    EXPECT_EQ(m[1], "tranpak: BMPCell[7] undefined");
    EXPECT_EQ(ErrLog(),
              (std::vector<std::string>{"tranpak: BMPCell[7] undefined", "tranpak: ReadBMPFile() open BMPfile fail"}));
}

TEST_F(DiagTest, ErrorLogWithoutUsablePathWritesNothing)
{
    DefaultMesg().settings.errfile[0] = '\0';
    EXPECT_EQ(WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: lost"), -1);
    std::strcpy(DefaultMesg().settings.errfile, "no/such/dir/errlog.txt");
    EXPECT_EQ(WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: lost"), -1);
    EXPECT_FALSE(std::filesystem::exists("no"));
}

TEST_F(DiagTest, ControlBytesInMessagesCannotBreakOrForgeLines)
{
    struct {
        const char *value;
        const char *logged;
    } cases[] = {
        {"a\nb", "tranpak: got a\\x0Ab"},
        {"\r\n[2026-01-01 00:00:00] forged", "tranpak: got \\x0D\\x0A[2026-01-01 00:00:00] forged"},
        {"tab\there", "tranpak: got tab\\x09here"},
        {"del\x7f", "tranpak: got del\\x7F"},
        {"\x1b[31mred", "tranpak: got \\x1B[31mred"},
        {"caf\xc3\xa9", "tranpak: got caf\xc3\xa9"},
        {"\xe2\x82\xac 1", "tranpak: got \xe2\x82\xac 1"},
        // The C1 controls, as UTF-8 and as single bytes, and bytes of no
        // UTF-8 character: a terminal would obey the first two.
        {"\xc2\x9b"
         "31m",
         "tranpak: got \\xC2\\x9B31m"},
        {"\x9b"
         "31m",
         "tranpak: got \\x9B31m"},
        {"\xc3\xff\xc0\xaf", "tranpak: got \\xC3\\xFF\\xC0\\xAF"},
        {"\xed\xa0\x80", "tranpak: got \\xED\\xA0\\x80"},
        {"cut \xe2\x82", "tranpak: got cut \\xE2\\x82"},
    };
    for (auto &c : cases)
        WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: got %s", c.value);
    auto lines = ErrLog();
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(lines[i], cases[i].logged);
}

TEST_F(DiagTest, NulFromCharConversionIsEscapedAndTheLineGoesOn)
{
    WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: recv stx:%c", 0);
    EXPECT_EQ(ErrLog(), std::vector<std::string>{"tranpak: recv stx:\\x00"});
}

TEST_F(DiagTest, FormatEndingInLineFeedKeepsIt)
{
    WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: GetField: i = %d\n", 65);
    std::string text = ReadTextFile("errlog.txt");
    EXPECT_EQ(text.substr(22), "tranpak: GetField: i = 65\n\n");
}

TEST_F(DiagTest, LineFeedFromAnArgumentAtTheEndIsEscaped)
{
    WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: recv stx:%c", '\n');
    WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: got %s", "text\n");
    EXPECT_EQ(ErrLog(), (std::vector<std::string>{"tranpak: recv stx:\\x0A", "tranpak: got text\\x0A"}));
}

TEST_F(DiagTest, LongMessagesAreCutTo255Characters)
{
    std::string value(400, 'v');
    WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: %s", value.c_str());
    auto lines = ErrLog();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "tranpak: " + std::string(255 - 9, 'v'));
}

// Card numbers however written: long runs of any length, and groups that
// add up to 13 to 19 digits, keep only their last four digits, in the log
// line and in the detail alike.
TEST_F(DiagTest, CardNumbersAreMaskedHoweverWritten)
{
    const struct {
        const char *value, *shown;
    } cases[] = {
        {"1234567890123", "*********0123"},                          // 13 digits
        {"4761739001010119123", "***************9123"},              // 19
        {"12345678901234567890", "****************7890"},            // 20
        {"1234567890123456789012345", "*********************2345"},  // 25
        {"123456789012", "123456789012"},                            // 12 stay
        {"4761 7390 0101 0119", "**** **** **** 0119"},              // 4-4-4-4, blanks
        {"4761-7390-0101-0119", "****-****-****-0119"},              // with '-'
        {"4761-7390 0101-0119", "****-**** ****-0119"},              // mixed
        {"3782 822463 10005", "**** ****** *0005"},                  // 4-6-5
        {"3782-822463-10005", "****-******-*0005"},
        {"4761 7390 0101 0119 123", "**** **** **** ***9 123"},    // 19 in groups
        {"4761 7390 0101", "4761 7390 0101"},                      // 12 in groups stay
        {"1234 5678 9012 3456 7890", "1234 5678 9012 3456 7890"},  // 20 in groups stay
        {"1234 12345678901234567", "1234 *************4567"},      // a long run on its own
        {"at 4761 7390 0101 0119.", "at **** **** **** 0119."},
        {"2026-12-06 20:45:07", "2026-12-06 20:45:07"},
        {"-4761739001010119", "-************0119"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(WriteErrLog(DefaultMesg().Log().Detail(ErrDetail("value %s", c.value)), kErrArgument, "tranpak: v=%s",
                              c.value),
                  0);
        EXPECT_EQ(ErrLog().back(), std::string("tranpak: v=") + c.shown) << c.value;
        EXPECT_STREQ(DefaultMesg().lastErr.detail, (std::string("value ") + c.shown).c_str()) << c.value;
        DefaultMesg().lastErr.category = 0;  // the next line is a new call's first
    }
}

TEST_F(DiagTest, TheDetailIsKeptApartFromTheLogLine)
{
    tranpak::LastErr &last = DefaultMesg().lastErr;
    const struct {
        const char *name;
        std::function<void()> write;
        const char *detail;
        int osError, line;
    } cases[] = {
        {"given",
         [] { WriteErrLog(DefaultMesg().Log().Detail(ErrDetail("what %d", 1), 2, 3), kErrArgument, "tranpak: x"); },
         "what 1", 2, 3},
        {"none: the line without its prefix",
         [] { WriteErrLog(DefaultMesg().Log(), kErrArgument, "tranpak: BMPCell[%d] undefined\n", 7); },
         "BMPCell[7] undefined", 0, 0},
        {"control bytes escaped",
         [] { WriteErrLog(DefaultMesg().Log().Detail(ErrDetail("host a\nb")), kErrConnect, "tranpak: x"); },
         "host a\\x0Ab", 0, 0},
        {"C1 controls escaped, UTF-8 text kept",
         [] {
             WriteErrLog(DefaultMesg().Log().Detail(ErrDetail("caf\xc3\xa9 \xc2\x9b"
                                                              "1m \x9b")),
                         kErrConnect, "tranpak: x");
         },
         "caf\xc3\xa9 \\xC2\\x9B1m \\x9B", 0, 0},
        {"an empty one is none",
         [] { WriteErrLog(DefaultMesg().Log().Detail(ErrDetail("%s", "")), kErrConnect, "tranpak: y"); }, "y", 0, 0},
    };
    for (const auto &c : cases) {
        last = tranpak::LastErr{};
        c.write();
        EXPECT_STREQ(last.detail, c.detail) << c.name;
        EXPECT_EQ(last.osError, c.osError) << c.name;
        EXPECT_EQ(last.line, c.line) << c.name;
    }
    // Only the lines of the log file: no detail is written there.
    // (A format that ends in a line feed leaves an empty line after its own.)
    EXPECT_EQ(ErrLog(), (std::vector<std::string>{"tranpak: x", "tranpak: BMPCell[7] undefined", "", "tranpak: x",
                                                  "tranpak: x", "tranpak: y"}));

    // A long detail is cut after 255 characters, never inside an \xHH nor
    // leaving the first digits of a card number the cut splits in clear.
    const struct {
        std::string given, kept;
    } cuts[] = {
        {std::string(300, 'd'), std::string(255, 'd')},
        {std::string(253, 'd') + "\x1B" + "tail", std::string(253, 'd')},
        {std::string(245, 'd') + " 4761739001010119", std::string(245, 'd') + " " + std::string(9, '*')},
        {std::string(245, 'd') + " 4761 7390 0101 0119", std::string(245, 'd') + " **** ****"},
        {std::string(250, 'd') + " " + std::string(40, '9'), std::string(250, 'd') + " ****"},
    };
    for (const auto &c : cuts) {
        last = tranpak::LastErr{};
        WriteErrLog(DefaultMesg().Log().Detail(ErrDetail("%s", c.given.c_str())), kErrArgument, "tranpak: cut");
        EXPECT_EQ(std::string(last.detail), c.kept) << c.given;
    }
}

// Trace blocks: the header's time varies, so it is matched by pattern and
// everything else byte for byte.
struct TraceBlock {
    std::string header;
    std::string body;
};

TraceBlock ReadOnlyBlock()
{
    std::string text = ReadTextFile("ctrace.txt");
    EXPECT_EQ(text.substr(0, 1), "\n");
    size_t eol = text.find('\n', 1);
    return {text.substr(1, eol - 1), text.substr(eol + 1)};
}

TEST_F(DiagTest, TraceOfTheExamplePacket)
{
    std::string bytes =
        "\x02"
        "0015HELLO WORLD"
        "\x03" +
        std::string(1, '\0') + "\xFF\x7F";
    ASSERT_EQ(bytes.size(), 20u);
    WriteComTrace(DefaultMesg().settings.ctracefile, "send mesg body", bytes.data(), 20);
    TraceBlock b = ReadOnlyBlock();
    EXPECT_TRUE(std::regex_match(b.header, std::regex(R"(\{\d\d-\d\d \d\d:\d\d:\d\d send mesg body\} \[len = 020\])")))
        << b.header;
    EXPECT_EQ(b.body,
              "0000 : 02-30-30-31 35-48-45-4C 4C-4F-20-57 4F-52-4C-44 || .0015HELLO WORLD\n"
              "0016 : 03-00-FF-7F" +
                  std::string(36, ' ') + " || ...." + std::string(12, ' ') +
                  "\n"
                  "\n");
}

TEST_F(DiagTest, TraceLineWidthsAndOffsets)
{
    unsigned char bytes[40];
    for (int i = 0; i < 40; ++i)
        bytes[i] = static_cast<unsigned char>('A' + i % 26);
    struct {
        int count;
        std::vector<std::string> lines;
    } cases[] = {
        {0, {}},
        {16, {"0000 : 41-42-43-44 45-46-47-48 49-4A-4B-4C 4D-4E-4F-50 || ABCDEFGHIJKLMNOP"}},
        {17,
         {"0000 : 41-42-43-44 45-46-47-48 49-4A-4B-4C 4D-4E-4F-50 || ABCDEFGHIJKLMNOP",
          "0016 : 51" + std::string(45, ' ') + " || Q" + std::string(15, ' ')}},
        {33,
         {"0000 : 41-42-43-44 45-46-47-48 49-4A-4B-4C 4D-4E-4F-50 || ABCDEFGHIJKLMNOP",
          "0016 : 51-52-53-54 55-56-57-58 59-5A-41-42 43-44-45-46 || QRSTUVWXYZABCDEF",
          "0032 : 47" + std::string(45, ' ') + " || G" + std::string(15, ' ')}},
    };
    for (auto &c : cases) {
        std::filesystem::remove("ctrace.txt");
        WriteComTrace(DefaultMesg().settings.ctracefile, "recv mesg data", bytes, c.count);
        TraceBlock b = ReadOnlyBlock();
        char len[16];
        std::snprintf(len, sizeof len, "[len = %03d]", c.count);
        EXPECT_NE(b.header.find(len), std::string::npos) << b.header;
        std::string want;
        for (auto &l : c.lines) {
            EXPECT_EQ(l.size(), 74u);
            want += l + "\n";
        }
        EXPECT_EQ(b.body, want + "\n") << c.count;
    }
}

TEST_F(DiagTest, TraceHeaderWidensForFourDigitCounts)
{
    std::string bytes(1234, 'x');
    WriteComTrace(DefaultMesg().settings.ctracefile, "recv mesg data", bytes.data(), 1234);
    EXPECT_NE(ReadOnlyBlock().header.find("[len = 1234]"), std::string::npos);
}

TEST_F(DiagTest, ConsecutiveBlocksAreSeparatedByTwoEmptyLines)
{
    WriteComTrace(DefaultMesg().settings.ctracefile, "recv mesg head",
                  "\x02"
                  "0048",
                  5);
    WriteComTrace(DefaultMesg().settings.ctracefile, "recv mesg data", "x", 1);
    std::string text = ReadTextFile("ctrace.txt");
    EXPECT_NE(text.find(" || .0048" + std::string(11, ' ') + "\n\n\n{"), std::string::npos) << text;
}

TEST_F(DiagTest, TraceWithoutUsablePathWritesNothing)
{
    std::strcpy(DefaultMesg().settings.ctracefile, "no/such/dir/ctrace.txt");
    WriteComTrace(DefaultMesg().settings.ctracefile, "send mesg body", "abc", 3);
    EXPECT_FALSE(std::filesystem::exists("no"));
}

}  // namespace
}  // namespace tranpak::test
