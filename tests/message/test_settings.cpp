// Settings file, profile reader and Init8583.
#include "api/session.h"
#include "message/mesg_state.h"
#include "message/settings.h"
#include "os.h"
#include "support/profile_probe.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>
#include <string>

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
        {"GCODEFLAG=1", 1}, {"GCODEFLAG=10", 1},  {"GCODEFLAG=0", 0}, {"GCODEFLAG=yes", 0},
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
    WriteSettings(
        "; a comment line\n"
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
        {"other.ini", 0, "other.txt"}, {"", -1, "builtin.txt"},  // empty: as if unset
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

// Every section of the settings file lands in the one record, whatever the
// order of the sections and the case of their names; a value refused is
// noted with the values before it kept.
TEST_F(SettingsTest, OneReadFillsEverySectionOfTheRecord)
{
    struct Case {
        const char *file;
        int traceflag;
        const char *errfile, *bmpfile, *ctracefile;
        ComLimits limits;
        const char *refusedKey, *refusedValue;
        const char *algorithmText, *paddingText, *keyLenText, *coversText, *unknownKey;
        int algorithm, padding, keyLen, covers;
        MacSettingFault fault;
    } cases[] = {
        {"[mac]\nalgorithm = AES-CMAC\nKeyLen=32\n"
         "[Com Timeout]\nCONNECT=3\nSEND=4\nRECV=5\nTRANSFER=6\n"
         "[Bitmap Define File]\nBMPFILE=defs.txt\n[Error Log File]\nERRFILE=\"e.txt\"\n"
         "[Com Trace File]\nCTRACEFILE=t.txt\n[COM TRACE FLAG]\nGCODEFLAG=1\n",
         1,
         "e.txt",
         "defs.txt",
         "t.txt",
         {3, 4, 5, 6},
         nullptr,
         "",
         "AES-CMAC",
         "",
         "32",
         "",
         "",
         TP_MAC_AES_CMAC,
         TP_MAC_PAD1,
         32,
         TP_MAC_COVERS_MESSAGE,
         kMacSettingsTaken},
        {"",
         0,
         "../run/errlog.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {0, 0, 0, 0},
         nullptr,
         "",
         "",
         "",
         "",
         "",
         "",
         TP_MAC_LEGACY,
         TP_MAC_PAD1,
         8,
         TP_MAC_COVERS_DATA,
         kMacSettingsTaken},
        // A refused limit keeps the ones before it; [MAC] is read all the same.
        {"[Com Timeout]\nCONNECT=3\nSEND=4\nRECV=30s\nTRANSFER=6\n[MAC]\nALGORITM=AES-CMAC\nPADDING=2\n",
         0,
         "../run/errlog.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {3, 4, 0, 0},
         "RECV",
         "30s",
         "",
         "2",
         "",
         "",
         "ALGORITM",
         TP_MAC_LEGACY,
         TP_MAC_PAD1,
         8,
         TP_MAC_COVERS_DATA,
         kMacKeyUnknown},
        // A section or key given twice: its first occurrence only.
        {"[Com Timeout]\nRECV=7\nRECV=8\n[Error Log File]\nERRFILE=first.txt\n[MAC]\nALGORITHM=TDES-CMAC\n"
         "[Com Timeout]\nSEND=2\nRECV=9\n[Error Log File]\nERRFILE=second.txt\n[MAC]\nALGORITHM=AES-CMAC\nBOGUS=1\n",
         0,
         "first.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {0, 0, 7, 0},
         nullptr,
         "",
         "TDES-CMAC",
         "",
         "",
         "",
         "",
         TP_MAC_TDES_CMAC,
         TP_MAC_PAD1,
         16,
         TP_MAC_COVERS_MESSAGE,
         kMacSettingsTaken},
        // Each [MAC] refusal, with what was taken before it.
        {"[MAC]\nALGORITHM=DES\n",
         0,
         "../run/errlog.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {0, 0, 0, 0},
         nullptr,
         "",
         "DES",
         "",
         "",
         "",
         "",
         TP_MAC_LEGACY,
         TP_MAC_PAD1,
         8,
         TP_MAC_COVERS_DATA,
         kMacAlgorithmUnknown},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG3\nPADDING=3\n",
         0,
         "../run/errlog.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {0, 0, 0, 0},
         nullptr,
         "",
         "ISO9797-1-ALG3",
         "3",
         "",
         "",
         "",
         TP_MAC_ISO9797_1_ALG3,
         TP_MAC_PAD1,
         8,
         TP_MAC_COVERS_DATA,
         kMacPaddingUnknown},
        {"[MAC]\nALGORITHM=AES-CMAC\nPADDING=02\nKEYLEN=8\n",
         0,
         "../run/errlog.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {0, 0, 0, 0},
         nullptr,
         "",
         "AES-CMAC",
         "02",
         "8",
         "",
         "",
         TP_MAC_AES_CMAC,
         TP_MAC_PAD2,
         8,
         TP_MAC_COVERS_DATA,
         kMacKeyLenRefused},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG1\nKEYLEN=24\nCOVERS=ALL\n",
         0,
         "../run/errlog.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {0, 0, 0, 0},
         nullptr,
         "",
         "ISO9797-1-ALG1",
         "",
         "24",
         "ALL",
         "",
         TP_MAC_ISO9797_1_ALG1,
         TP_MAC_PAD1,
         24,
         TP_MAC_COVERS_DATA,
         kMacCoversUnknown},
        {"[MAC]\nCOVERS=message\n",
         0,
         "../run/errlog.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {0, 0, 0, 0},
         nullptr,
         "",
         "",
         "",
         "",
         "message",
         "",
         TP_MAC_LEGACY,
         TP_MAC_PAD1,
         8,
         TP_MAC_COVERS_DATA,
         kMacCoversNotLegacy},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG3\nCOVERS=DATA\n",
         0,
         "../run/errlog.txt",
         "../etc/bitmap.txt",
         "../run/ctrace.txt",
         {0, 0, 0, 0},
         nullptr,
         "",
         "ISO9797-1-ALG3",
         "",
         "",
         "DATA",
         "",
         TP_MAC_ISO9797_1_ALG3,
         TP_MAC_PAD1,
         16,
         TP_MAC_COVERS_DATA,
         kMacSettingsTaken},
    };
    for (const Case &c : cases) {
        WriteSettings(c.file);
        FileSettings r;
        std::memset(&r, 0x5A, sizeof r);  // every member must be written
        ReadFileSettings(kSettingsFile, &r);
        EXPECT_EQ(r.traceflag, c.traceflag) << c.file;
        EXPECT_STREQ(r.errfile, c.errfile) << c.file;
        EXPECT_STREQ(r.bmpfile, c.bmpfile) << c.file;
        EXPECT_STREQ(r.ctracefile, c.ctracefile) << c.file;
        EXPECT_EQ(r.limits.connectLimit, c.limits.connectLimit) << c.file;
        EXPECT_EQ(r.limits.sendLimit, c.limits.sendLimit) << c.file;
        EXPECT_EQ(r.limits.recvLimit, c.limits.recvLimit) << c.file;
        EXPECT_EQ(r.limits.transferLimit, c.limits.transferLimit) << c.file;
        EXPECT_STREQ(r.refusedKey, c.refusedKey) << c.file;
        EXPECT_STREQ(r.refusedValue, c.refusedValue) << c.file;
        EXPECT_STREQ(r.mac.algorithmText, c.algorithmText) << c.file;
        EXPECT_STREQ(r.mac.paddingText, c.paddingText) << c.file;
        EXPECT_STREQ(r.mac.keyLenText, c.keyLenText) << c.file;
        EXPECT_STREQ(r.mac.coversText, c.coversText) << c.file;
        EXPECT_STREQ(r.mac.unknownKey, c.unknownKey) << c.file;
        EXPECT_EQ(r.mac.algorithm, c.algorithm) << c.file;
        EXPECT_EQ(r.mac.padding, c.padding) << c.file;
        EXPECT_EQ(r.mac.keyLen, c.keyLen) << c.file;
        EXPECT_EQ(r.mac.covers, c.covers) << c.file;
        EXPECT_EQ(r.mac.fault, c.fault) << c.file;
    }
}

// The one pass gives each value exactly as the profile reader gives it
// alone (on Windows, GetPrivateProfileStringA): comments, blanks, quotes,
// case, a bare key, a key or section given twice, CR LF, long values.
TEST_F(SettingsTest, OneReadGivesWhatTheProfileReaderGivesKeyByKey)
{
    const std::string longValue(350, 'v');
    const std::string files[] = {
        "; comment\n[Com Trace Flag]\n;GCODEFLAG=1\n  gcodeflag =  0x \n[ Error Log File ]\nERRFILE = 'quoted.txt'\n"
        "[Bitmap Define File]\nBMPFILE=" +
            longValue +
            "\n[Com Trace File]\nCTRACEFILE\n"
            "[Com Timeout]\r\nRECV = 12 \r\nRECV=13\r\n[MAC]\nALGORITHM=\"TDES-CMAC\"\nKEYLEN=" +
            longValue +
            "\n"
            "[Com Timeout]\nSEND=5\n[MAC]\nPADDING=2\n",
        "[MAC]\nCOVERS = data\nALGORITHM=LEGACY\n[Com Trace Flag]\nGCODEFLAG=1 and more\n[Error Log File]\n"
        "[Bitmap Define File]\nBMPFILE=\"half quoted.txt\n[Com Timeout]\nTRANSFER=86401\nCONNECT=0\n",
    };
    for (const std::string &file : files) {
        WriteSettings(file);
        FileSettings r{};
        ReadFileSettings(kSettingsFile, &r);
        EXPECT_EQ(r.traceflag, Profile("Com Trace Flag", "GCODEFLAG", "0")[0] == '1' ? 1 : 0) << file;
        EXPECT_EQ(r.errfile, Profile("Error Log File", "ERRFILE", kDefaultErrFile).substr(0, 159)) << file;
        EXPECT_EQ(r.bmpfile, Profile("Bitmap Define File", "BMPFILE", kDefaultBmpFile).substr(0, 159)) << file;
        EXPECT_EQ(r.ctracefile, Profile("Com Trace File", "CTRACEFILE", kDefaultTraceFile).substr(0, 159)) << file;
        EXPECT_EQ(r.limits.connectLimit, ParseTimeLimit(Profile("Com Timeout", "CONNECT", "").c_str())) << file;
        EXPECT_EQ(r.limits.sendLimit, ParseTimeLimit(Profile("Com Timeout", "SEND", "").c_str())) << file;
        EXPECT_EQ(r.limits.recvLimit, ParseTimeLimit(Profile("Com Timeout", "RECV", "").c_str())) << file;
        EXPECT_EQ(r.limits.transferLimit, ParseTimeLimit(Profile("Com Timeout", "TRANSFER", "").c_str())) << file;
        EXPECT_EQ(r.mac.algorithmText, Profile("MAC", "ALGORITHM", "")) << file;
        EXPECT_EQ(r.mac.paddingText, Profile("MAC", "PADDING", "")) << file;
        EXPECT_EQ(r.mac.keyLenText, Profile("MAC", "KEYLEN", "")) << file;
        EXPECT_EQ(r.mac.coversText, Profile("MAC", "COVERS", "")) << file;
    }
    // The first file's values, spelt out.
    WriteSettings(files[0]);
    FileSettings r{};
    ReadFileSettings(kSettingsFile, &r);
    EXPECT_EQ(r.traceflag, 0);
    EXPECT_STREQ(r.errfile, "quoted.txt");
    EXPECT_EQ(r.bmpfile, std::string(159, 'v'));
    EXPECT_STREQ(r.ctracefile, kUnderWine ? kDefaultTraceFile : "");
    EXPECT_EQ(r.limits.recvLimit, 12);
    EXPECT_EQ(r.limits.sendLimit, 0);
    EXPECT_STREQ(r.mac.algorithmText, "TDES-CMAC");
    EXPECT_EQ(r.mac.keyLenText, std::string(299, 'v'));
    EXPECT_STREQ(r.mac.paddingText, "");
    EXPECT_EQ(r.mac.fault, kMacKeyLenRefused);
}

// The OS layer's one pass itself: keys of several sections in any order,
// each from the first section of its name, the section checked for keys
// outside its list, and no more keys than it holds room for.
TEST_F(SettingsTest, ProfileReadTakesManyKeysInOnePass)
{
    WriteSettings("[B]\nk=b1\n[A]\nX=a1\nY=\"a2\"\nstray = 1\nX=again\n[B]\nk=b2\nz=b3\n[A]\nZ=a3\nother=2\n");
    char x[8], y[8], z[8], k[8], bz[8], missing[8], out[3];
    std::memset(out, '#', sizeof out);
    const os::ProfileKey keys[] = {
        {"a", "x", "-", x, sizeof x}, {"A", "Y", "-", y, sizeof y},   {"A", "Z", "-", z, sizeof z},
        {"b", "K", "-", k, sizeof k}, {"B", "z", "-", bz, sizeof bz}, {"C", "k", "none", missing, 3},
    };
    const char *const known[] = {"X", "Y", "Z"};
    os::ProfileStray stray{"a", known, 3, out, sizeof out, 0};
    ASSERT_EQ(os::ReadProfile(kSettingsFile, keys, 6, &stray), 0);
    EXPECT_STREQ(x, "a1");
    EXPECT_STREQ(y, "a2");
    EXPECT_STREQ(z, "-");  // only in the second [A]
    EXPECT_STREQ(k, "b1");
    EXPECT_STREQ(bz, "-");
    EXPECT_STREQ(missing, "no");  // the fallback cut to size-1
    EXPECT_EQ(stray.found, 1);
    EXPECT_STREQ(out, "st");
    // Every key known: nothing found, out emptied; a missing file: fallbacks.
    const char *const all[] = {"x", "y", "z", "stray"};
    os::ProfileStray none{"A", all, 4, out, sizeof out, 1};
    ASSERT_EQ(os::ReadProfile(kSettingsFile, keys, 1, &none), 0);
    EXPECT_EQ(none.found, 0);
    EXPECT_STREQ(out, "");
    ASSERT_EQ(os::ReadProfile("no-such.ini", keys, 6, nullptr), 0);
    EXPECT_STREQ(x, "-");
    EXPECT_STREQ(k, "-");
    // More keys than one pass takes: refused, nothing written.
    os::ProfileKey many[os::kMostProfileKeys + 1];
    for (auto &key : many)
        key = os::ProfileKey{"A", "X", "-", y, sizeof y};
    std::strcpy(y, "kept");
    EXPECT_EQ(os::ReadProfile(kSettingsFile, many, os::kMostProfileKeys + 1, nullptr), -1);
    EXPECT_STREQ(y, "kept");
    EXPECT_EQ(os::ReadProfile(kSettingsFile, many, os::kMostProfileKeys, nullptr), 0);
    EXPECT_STREQ(y, "a1");
}

// Init8583 takes [MAC] from the first section of the name, as it takes
// every other section: a key outside the list in a later one is no fault.
TEST_F(SettingsTest, InitTakesTheFirstMacSectionOnly)
{
    ASSERT_EQ(InitWith("X AN 10 5\n", false,
                       "[MAC]\nALGORITHM=AES-CMAC\nKEYLEN=24\n[Com Timeout]\nRECV=4\n[MAC]\nALGORITHM=DES\nBOGUS=1\n"),
              0);
    const LibSettings &s = DefaultMesg().settings;
    EXPECT_EQ(s.macAlgorithm, TP_MAC_AES_CMAC);
    EXPECT_EQ(s.macKeyLen, 24);
    EXPECT_EQ(s.macCovers, TP_MAC_COVERS_MESSAGE);
    EXPECT_EQ(s.recvLimit, 4);
    // The same key in the first section is refused, and the defaults stay.
    EXPECT_EQ(InitWith("X AN 10 5\n", false, "[MAC]\nALGORITHM=AES-CMAC\nKEYLEN=24\nBOGUS=1\n"), -1);
    EXPECT_EQ(LastErr(), "tranpak: [MAC] key BOGUS is not ALGORITHM, PADDING, KEYLEN or COVERS");
    EXPECT_EQ(s.macAlgorithm, TP_MAC_LEGACY);
    EXPECT_EQ(s.macKeyLen, 8);
    EXPECT_EQ(s.macCovers, TP_MAC_COVERS_DATA);
}

// The limits pass between TpSettings and the one record unchanged.
TEST(ComLimitsRecord, PassesToAndFromTpSettings)
{
    TpSettings given{};
    given.connectLimit = 1;
    given.sendLimit = 2;
    given.recvLimit = 3;
    given.transferLimit = 4;
    const ComLimits limits = LimitsOf(given);
    EXPECT_EQ(limits.connectLimit, 1);
    EXPECT_EQ(limits.sendLimit, 2);
    EXPECT_EQ(limits.recvLimit, 3);
    EXPECT_EQ(limits.transferLimit, 4);
    TpSettings back{};
    PutLimits(ComLimits{9, 8, 7, 6}, &back);
    EXPECT_EQ(back.connectLimit, 9);
    EXPECT_EQ(back.sendLimit, 8);
    EXPECT_EQ(back.recvLimit, 7);
    EXPECT_EQ(back.transferLimit, 6);
    EXPECT_EQ(back.bmpFile, nullptr);
}

}  // namespace
}  // namespace tranpak::test
