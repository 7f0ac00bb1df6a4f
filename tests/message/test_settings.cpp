// Settings file, profile reader and Init8583.
#include "api/session.h"
#include "message/mesg_state.h"
#include "message/settings.h"
#include "os.h"
#include "support/profile_probe.h"
#include "support/scratch_dir.h"
#include "tranpak.h"


namespace tranpak::test {
namespace {

using SettingsTest = ScratchTest;

// Whether the profile reader is Wine's, which differs from Windows' in one case.
constexpr bool kUnderWine = TRANPAK_TEST_UNDER_WINE;

TEST_F(SettingsTest, WithoutSettingsFileTheDefaultsApply)
{
    WriteFile("bitmap.txt", "");  // not the default path: Init8583 must fail to open it
    EXPECT_EQ(::Init8583(), -1);
    EXPECT_STREQ(DefaultMesg().settings.bmpfile, "../etc/bitmap.txt");
    EXPECT_STREQ(DefaultMesg().settings.errfile, "../run/errlog.txt");
    EXPECT_STREQ(DefaultMesg().settings.ctracefile, "../run/ctrace.txt");
    EXPECT_EQ(DefaultMesg().settings.traceflag, 0);
}

// Only the built-in settings file may be missing: one the caller or
// TRANPAK_SETTINGS names must be there, or initialisation fails naming it.
TEST_F(SettingsTest, ANamedSettingsFileThatIsNotThereFails)
{
    WriteFile("bitmap.txt", "X AN 10 5\n");
    WriteFile("here.ini", "[Bitmap Define File]\nBMPFILE=bitmap.txt\n[Error Log File]\nERRFILE=errlog.txt\n");
    TpSession s{};
    ASSERT_EQ(TpInit8583(&s, "here.ini"), 0);
    const char *const lines[] = {"tranpak: settings file cannot be read (No such file or directory): run/nope.ini",
                                 "tranpak: settings file cannot be read (No such file or directory): nope.ini"};
    const char *const named[] = {"run/nope.ini", "nope.ini"};
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(TpInit8583(&s, named[k]), -1) << named[k];
        char text[300];
        EXPECT_EQ(TpGetLastErrMesg(&s, text, sizeof text), TRANPAK_ERR_SETTINGS);
        EXPECT_STREQ(text, lines[k]);
        EXPECT_EQ(LastErr(), lines[k]);  // in the log the session named before
    }
    // Through the variable: the same.
    RemoveSettings();
    ASSERT_EQ(os::SetEnvVar(kSettingsEnvVar, "run/nope.ini"), 0);
    EXPECT_EQ(::Init8583(), -1);
    char text[300];
    EXPECT_EQ(GetLastErrMesg(text, sizeof text), TRANPAK_ERR_SETTINGS);
    EXPECT_STREQ(text, lines[0]);
    os::SetEnvVar(kSettingsEnvVar, "");
    // The built-in one missing still means the defaults.
    EXPECT_EQ(::Init8583(), -1);  // no ../etc/bitmap.txt here
    EXPECT_EQ(GetLastErrMesg(text, sizeof text), TRANPAK_ERR_SETTINGS);
    EXPECT_STREQ(text, "tranpak: ReadBMPFile() open BMPfile fail");
    EXPECT_STREQ(DefaultMesg().settings.bmpfile, "../etc/bitmap.txt");
}

TEST_F(SettingsTest, DefaultPathsAreRelativeToTheCurrentDirectory)
{
    std::filesystem::create_directories("work/etc");
    std::filesystem::create_directories("work/run");
    WriteFile("work/etc/bitmap.txt", "X AN 10 5\n");
    std::filesystem::current_path("work/run");
    EXPECT_EQ(::Init8583(), 0);
    EXPECT_EQ(DefaultMesg().cells[4].maxlen, 10);
    std::filesystem::current_path(dir_);
}

TEST_F(SettingsTest, TraceFlagIsOnOnlyWhenTheValueStartsWithOne)
{
    struct Case {
        const char *line;
        int flag;
    } cases[] = {
        {"GCODEFLAG=1", 1}, {"GCODEFLAG=10", 1}, {"GCODEFLAG=0", 0}, {"GCODEFLAG=yes", 0},
        {"GCODEFLAG=", 0},  {"gcodeflag = 1", 1}, {"OTHER=1", 0},
    };
    for (const Case &c : cases) {
        WriteSettings(std::string("[Com Trace Flag]\n") + c.line + "\n");
        ::Init8583();
        EXPECT_EQ(DefaultMesg().settings.traceflag, c.flag) << c.line;
    }
}

// The same table runs against the POSIX reader and, under Windows, against
// GetPrivateProfileStringA: both must agree.
TEST_F(SettingsTest, ProfileReaderMatchesTheWindowsReader)
{
    WriteSettings("; a comment line\n"
                  "[First]\n"
                  "Plain=value\n"
                  "  Spaced   =   some value   \n"
                  "Quoted=\"a quoted value\"\n"
                  "Single='single'\n"
                  "Empty=\n"
                  "[Com Trace File]\n"
                  ";CTRACEFILE=commented.txt\n"
                  "ctracefile=trace.txt\n"
                  "[Other]\n"
                  "Plain=other\n"
                  "Bare\n"
                  "Bare=later\n"
                  "[First]\n"
                  "Again=second section\n");
    struct Case {
        const char *section, *key, *want;
    } cases[] = {
        {"First", "Plain", "value"},
        {"FIRST", "plain", "value"},
        {"First", "Spaced", "some value"},
        {"First", "Quoted", "a quoted value"},
        {"First", "Single", "single"},
        {"First", "Empty", ""},
        {"First", "Missing", "fallback"},
        {"Missing", "Plain", "fallback"},
        {"Com Trace File", "CTRACEFILE", "trace.txt"},
        {"Other", "Plain", "other"},
        // A key line without '=' is that key, empty (Wine's reader gives
        // the default there, never the later line); a second section of
        // the same name is never searched.
        {"Other", "Bare", kUnderWine ? "fallback" : ""},
        {"First", "Again", "fallback"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Profile(c.section, c.key, "fallback"), c.want) << c.section << "/" << c.key;
}

TEST_F(SettingsTest, ProfileReaderReturnsAtMostSizeMinusOneCharacters)
{
    WriteSettings("[S]\nK=" + std::string(350, 'v') + "\nShort=abcdef\n");
    EXPECT_EQ(Profile("S", "K", ""), std::string(299, 'v'));
    EXPECT_EQ(Profile("S", "Short", "", 4), "abc");
    EXPECT_EQ(Profile("S", "Missing", "defaultvalue", 5), "defa");
}

TEST_F(SettingsTest, ProfileReaderWithoutFileGivesTheDefault)
{
    EXPECT_EQ(Profile("Error Log File", "ERRFILE", "../run/errlog.txt"), "../run/errlog.txt");
}

TEST_F(SettingsTest, LongPathsAreCutToTheirMember)
{
    std::string longPath(250, 'p');
    WriteSettings("[Error Log File]\nERRFILE=" + longPath + "\n");
    ::Init8583();
    EXPECT_EQ(std::string(DefaultMesg().settings.errfile), longPath.substr(0, kPathSize - 1));
}

TEST_F(SettingsTest, UnopenableDefinitionFileFailsAndKeepsTheFrameBytes)
{
    WriteSettings("[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=missing/bitmap.txt\n");
    EXPECT_EQ(::Init8583(), -1);
    EXPECT_EQ(DefaultMesg().packet.start, 0x00);
    EXPECT_EQ(DefaultMesg().packet.stop, 0x00);
    EXPECT_EQ(LastErr(), "tranpak: ReadBMPFile() open BMPfile fail");
}

TEST_F(SettingsTest, FreshInitGivesAnEmptyFrameAndUndefinedFields)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    const Packet &p = DefaultMesg().packet;
    EXPECT_EQ(p.start, 0x02);
    EXPECT_EQ(p.stop, 0x03);
    EXPECT_EQ(p.len, 0);
    EXPECT_STREQ(p.txcode, "");
    for (unsigned char b : p.bitmap)
        EXPECT_EQ(b, 0);
    for (int i = 0; i < kCellCount; ++i) {
        EXPECT_EQ(DefaultMesg().cells[i].used, 0) << i;
        bool named = i == 1 || i == 2 || i == 3 || i == 40 || i == 47 || i == 63;
        if (!named) {
            EXPECT_EQ(DefaultMesg().cells[i].maxlen, 0) << i;
            EXPECT_EQ(DefaultMesg().cells[i].varlen, 0) << i;
            EXPECT_EQ(DefaultMesg().cells[i].type, 0) << i;
            EXPECT_STREQ(DefaultMesg().cells[i].name, "") << i;
        }
    }
}

TEST_F(SettingsTest, SecondInitClearsValuesButKeepsLenTxcodeDataAndBackup)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    DefaultMesg().cells[1].used = 1;
    std::strcpy(DefaultMesg().cells[1].buf, "1234");
    DefaultMesg().packet.len = 48;
    std::strcpy(DefaultMesg().packet.txcode, "0200");
    DefaultMesg().packet.data[0] = 'x';
    DefaultMesg().packet.bitmap[0] = 0x70;
    DefaultMesg().packet.start = 0x7F;
    DefaultMesg().backup.packet.len = 99;

    ASSERT_EQ(::Init8583(), 0);
    EXPECT_EQ(DefaultMesg().cells[1].used, 0);
    EXPECT_EQ(DefaultMesg().cells[1].buf[0], '\0');
    EXPECT_EQ(DefaultMesg().cells[1].maxlen, 19);
    EXPECT_EQ(DefaultMesg().packet.len, 48);
    EXPECT_STREQ(DefaultMesg().packet.txcode, "0200");
    EXPECT_EQ(DefaultMesg().packet.data[0], 'x');
    EXPECT_EQ(DefaultMesg().packet.bitmap[0], 0);
    EXPECT_EQ(DefaultMesg().packet.start, 0x02);
    EXPECT_EQ(DefaultMesg().backup.packet.len, 99);
}

TEST_F(SettingsTest, EnvironmentVariableNamesAnotherSettingsFile)
{
    WriteSettings("[Bitmap Define File]\nBMPFILE=builtin.txt\n");
    WriteFile("other.ini", "[Bitmap Define File]\nBMPFILE=other.txt\n[Error Log File]\nERRFILE=other-err.txt\n");
    WriteFile("other.txt", "X AN 10 5\n");
    struct {
        const char *value;
        int rc;
        const char *bmpfile;
    } cases[] = {
        {"other.ini", 0, "other.txt"},
        {"", -1, "builtin.txt"},  // empty: as if unset
    };
    for (const auto &c : cases) {
        ASSERT_EQ(os::SetEnvVar(kSettingsEnvVar, c.value), 0);
        EXPECT_EQ(::Init8583(), c.rc) << c.value;
        EXPECT_STREQ(DefaultMesg().settings.bmpfile, c.bmpfile) << c.value;
    }
    // A path too long to hold fails without reading any settings.
    ASSERT_EQ(os::SetEnvVar(kSettingsEnvVar, std::string(kSettingsPathSize, 'p').c_str()), 0);
    EXPECT_EQ(::Init8583(), -1);
    char text[200];
    EXPECT_EQ(GetLastErrMesg(text, sizeof text), TRANPAK_ERR_SETTINGS);
    EXPECT_STREQ(text, "tranpak: TRANPAK_SETTINGS names a path of over 1023 characters");
    os::SetEnvVar(kSettingsEnvVar, "");
}

}  // namespace
}  // namespace tranpak::test
