// What field 64 protects: a failed check hands out no MAC, the standard
// MACs cover the type and the bitmap unless told to cover the data area
// only, the [MAC] section takes COVERS and refuses keys it does not know.
#include "kit/mac_names.h"
#include "os/os.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

// A purchase whose fields 3 and 4 can be read, with another bitmap, as an
// amount of 0.00 and a trace number: the same bytes, another message.
constexpr char kDefinitions[] =
    "PROCCODE  N     6       3\n"
    "AMOUNT    NF    12      4\n"
    "STAN      N     6       11\n"
    "TERMID    ANS   8       41\n"
    "MAC       B     8       64\n";
// Fields 3, 4, 41 as packed, and the bitmap of fields 3, 4, 41 and 64.
constexpr char kData[] = "000000000000001000TERM0001";
constexpr int kDataLen = 26;
const std::string kBitmap("\x30\x00\x00\x00\x00\x80\x00\x01", 8);
// The same bytes as fields 4, 11 and 41: the amount reads 0.00.
const std::string kBitmapZeroAmount("\x10\x20\x00\x00\x00\x80\x00\x01", 8);
constexpr int kTypeAt = 5;
constexpr int kBitmapAt = 9;
constexpr int kMacAt = 17 + kDataLen;
constexpr int kFrameLen = kMacAt + 8 + 1;

std::vector<unsigned char> KeyOf(int len, int salt = 0)
{
    std::vector<unsigned char> key(static_cast<size_t>(len));
    for (int i = 0; i < len; ++i)
        key[static_cast<size_t>(i)] = static_cast<unsigned char>(0x31 + 7 * i + salt);
    return key;
}

std::string LastError(TpSession *s)
{
    char text[300] = {};
    const int category = TpGetLastErrMesg(s, text, sizeof text);
    return std::to_string(category) + " " + text;
}

std::string HexDigits(const std::string &bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

struct Algorithm {
    const char *name;
    int algorithm, padding, keyLen;
};

const Algorithm kLegacy{"LEGACY", TP_MAC_LEGACY, TP_MAC_PAD1, 8};
const Algorithm kStandard[] = {
    {"ISO9797-1-ALG1", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD2, 16},
    {"ISO9797-1-ALG3", TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD1, 16},
    {"TDES-CMAC", TP_MAC_TDES_CMAC, TP_MAC_PAD1, 24},
    {"AES-CMAC", TP_MAC_AES_CMAC, TP_MAC_PAD1, 32},
};

class MacCoverageTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        WriteFile("bitmap.txt", kDefinitions);
    }
    // A session on the definitions above under the algorithm, covering
    // covers (0: the algorithm's default).
    std::unique_ptr<TpSession> SessionOn(const Algorithm &a, int covers = 0)
    {
        TpSettings settings{};
        settings.errFile = "errlog.txt";
        settings.bmpFile = "bitmap.txt";
        auto s = std::make_unique<TpSession>();
        if (TpInit8583With(s.get(), &settings) != 0 ||
            TpSetMacAlgorithm(s.get(), a.algorithm, a.padding, a.keyLen) != 0 ||
            (covers != 0 && TpSetMacCovers(s.get(), covers) != 0))
            return nullptr;
        return s;
    }
    // The purchase packed under key, or "" when packing fails.
    static std::string Purchase(TpSession *s, const std::vector<unsigned char> &key)
    {
        TpResetMesg(s);
        TpSetCellText(s, 0, "0200");
        TpSetCellText(s, 3, "000000");
        TpSetCellText(s, 4, "10.00");
        TpSetCellText(s, 41, "TERM0001");
        unsigned char frame[2048];
        int len = 0;
        if (TpPackMesg(s, key.data(), frame, sizeof frame, &len) != 0)
            return "";
        return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
    }
    // Receives the frame into s and checks its MAC under key: 0 or -1.
    static int Check(TpSession *s, const std::string &frame, const std::vector<unsigned char> &key)
    {
        if (TpUnpackMesg(s, reinterpret_cast<const unsigned char *>(frame.data()), static_cast<int>(frame.size())) != 0)
            return -2;
        return TpCheckMesgMac(s, key.data());
    }
    static std::string CellText(TpSession *s, int field)
    {
        char text[1024] = {};
        TpGetCellText(s, field, text, sizeof text);
        return text;
    }
    // The MAC TpMac gives over bytes, its leftmost 8.
    static std::string MacOf(const Algorithm &a, const std::vector<unsigned char> &key, const std::string &bytes)
    {
        unsigned char mac[8];
        if (TpMac(a.algorithm, a.padding, key.data(), a.keyLen, bytes.data(), static_cast<int>(bytes.size()), mac, 8) !=
            0)
            return "refused";
        return std::string(reinterpret_cast<char *>(mac), 8);
    }
};

// The frame with the type, or the bitmap, another.
std::string WithType(std::string frame, const char *type)
{
    frame.replace(kTypeAt, 4, type);
    return frame;
}

std::string WithBitmap(std::string frame, const std::string &bitmap)
{
    frame.replace(kBitmapAt, 8, bitmap);
    return frame;
}

TEST_F(MacCoverageTest, StandardMacsCoverTypeBitmapAndFieldsByDefault)
{
    for (const Algorithm &a : kStandard) {
        auto s = SessionOn(a);
        ASSERT_TRUE(s) << a.name;
        const std::vector<unsigned char> key = KeyOf(a.keyLen);
        const std::string frame = Purchase(s.get(), key);
        ASSERT_EQ(frame.size(), static_cast<size_t>(kFrameLen)) << a.name;
        ASSERT_EQ(frame.substr(kBitmapAt, 8), kBitmap) << a.name;
        ASSERT_EQ(frame.substr(17, kDataLen), kData) << a.name;
        // Put together by hand: type, bitmap (field 64's bit set), fields.
        EXPECT_EQ(HexDigits(frame.substr(kMacAt, 8)), HexDigits(MacOf(a, key, "0200" + kBitmap + kData))) << a.name;
        int algorithm = -1, padding = -1, keyLen = -1, covers = -1;
        ASSERT_EQ(TpGetMacAlgorithm(s.get(), &algorithm, &padding, &keyLen, &covers), 0);
        EXPECT_EQ(algorithm, a.algorithm) << a.name;
        EXPECT_EQ(padding, a.algorithm == TP_MAC_ISO9797_1_ALG1 ? TP_MAC_PAD2 : TP_MAC_PAD1) << a.name;
        EXPECT_EQ(keyLen, a.keyLen) << a.name;
        EXPECT_EQ(covers, TP_MAC_COVERS_MESSAGE) << a.name;

        // Covering the data area only: the fields alone, as a host that MACs that.
        auto data = SessionOn(a, TP_MAC_COVERS_DATA);
        ASSERT_TRUE(data) << a.name;
        const std::string dataFrame = Purchase(data.get(), key);
        EXPECT_EQ(dataFrame.substr(0, kMacAt), frame.substr(0, kMacAt)) << a.name;
        EXPECT_EQ(HexDigits(dataFrame.substr(kMacAt, 8)), HexDigits(MacOf(a, key, kData))) << a.name;
        ASSERT_EQ(TpGetMacAlgorithm(data.get(), nullptr, nullptr, nullptr, &covers), 0);
        EXPECT_EQ(covers, TP_MAC_COVERS_DATA) << a.name;
    }
}

TEST_F(MacCoverageTest, TypeOrBitmapChangedInTransitIsRefusedUnderMessageCoverage)
{
    for (const Algorithm &a : kStandard) {
        for (int covers : {TP_MAC_COVERS_MESSAGE, TP_MAC_COVERS_DATA}) {
            const bool whole = covers == TP_MAC_COVERS_MESSAGE;
            auto sender = SessionOn(a, covers), receiver = SessionOn(a, covers);
            ASSERT_TRUE(sender && receiver) << a.name;
            const std::vector<unsigned char> key = KeyOf(a.keyLen);
            const std::string frame = Purchase(sender.get(), key);
            EXPECT_EQ(Check(receiver.get(), frame, key), 0) << a.name << " " << covers;

            EXPECT_EQ(Check(receiver.get(), WithType(frame, "0420"), key), whole ? -1 : 0) << a.name << " " << covers;
            EXPECT_EQ(LastError(receiver.get()), whole ? "7 tranpak: mac check error" : "0 ") << a.name;
            EXPECT_EQ(CellText(receiver.get(), 0), "0420") << a.name;

            // The same bytes read as an amount of 0.00 and a trace number.
            EXPECT_EQ(Check(receiver.get(), WithBitmap(frame, kBitmapZeroAmount), key), whole ? -1 : 0)
                << a.name << " " << covers;
            EXPECT_EQ(LastError(receiver.get()), whole ? "7 tranpak: mac check error" : "0 ") << a.name;
            EXPECT_EQ(CellText(receiver.get(), 4), "0.00") << a.name;
            EXPECT_EQ(CellText(receiver.get(), 11), "001000") << a.name;
        }
    }
}

// The library's own MAC covers the data area before field 64 only, as it
// always has: a type or bitmap changed in transit goes unnoticed.
TEST_F(MacCoverageTest, LegacyMacStillCoversTheDataAreaOnly)
{
    auto sender = SessionOn(kLegacy), receiver = SessionOn(kLegacy);
    ASSERT_TRUE(sender && receiver);
    const std::vector<unsigned char> key = KeyOf(8);
    const std::string frame = Purchase(sender.get(), key);
    EXPECT_EQ(HexDigits(frame.substr(kMacAt, 8)), HexDigits(MacOf(kLegacy, key, kData)));
    EXPECT_EQ(Check(receiver.get(), WithType(frame, "0420"), key), 0);
    EXPECT_EQ(Check(receiver.get(), WithBitmap(frame, kBitmapZeroAmount), key), 0);
    int covers = -1;
    ASSERT_EQ(TpGetMacAlgorithm(receiver.get(), nullptr, nullptr, nullptr, &covers), 0);
    EXPECT_EQ(covers, TP_MAC_COVERS_DATA);
}

// After "tranpak: mac check error" field 64 still holds what was received,
// through every reader: the MAC the key gives for those bytes is nowhere.
TEST_F(MacCoverageTest, FailedCheckLeavesTheReceivedMacInFieldSixtyFour)
{
    std::vector<Algorithm> all(std::begin(kStandard), std::end(kStandard));
    all.push_back(kLegacy);
    for (const Algorithm &a : all) {
        for (const char *spoilt : {"mac", "type"}) {
            auto sender = SessionOn(a), receiver = SessionOn(a);
            ASSERT_TRUE(sender && receiver) << a.name;
            const std::vector<unsigned char> key = KeyOf(a.keyLen);
            std::string frame = Purchase(sender.get(), key);
            const bool macSpoilt = std::string(spoilt) == "mac";
            const std::string valid = frame.substr(kMacAt, 8);
            if (macSpoilt)
                frame[kMacAt + 3] ^= 0x40;
            else
                frame[17] = '9';  // a byte of field 3, which every algorithm covers
            const std::string received = frame.substr(kMacAt, 8);
            // What the key gives for the bytes received: the valid MAC when
            // only the MAC was spoilt, else the MAC of the changed bytes.
            const std::string covered =
                (a.algorithm == TP_MAC_LEGACY ? "" : "0200" + kBitmap) + frame.substr(17, kDataLen);
            const std::string computed = macSpoilt ? valid : MacOf(a, key, covered);
            ASSERT_NE(computed, received) << a.name << " " << spoilt;
            ASSERT_EQ(Check(receiver.get(), frame, key), -1) << a.name << " " << spoilt;
            EXPECT_EQ(LastError(receiver.get()), "7 tranpak: mac check error") << a.name << " " << spoilt;
            unsigned char cell[8] = {};
            ASSERT_EQ(TpGetCell(receiver.get(), 64, cell), 0);
            EXPECT_EQ(Hex(cell, 8), Hex(received.data(), 8)) << a.name << " " << spoilt;
            EXPECT_EQ(CellText(receiver.get(), 64), HexDigits(received)) << a.name << " " << spoilt;
            char described[4096] = {};
            int describedLen = 0;
            ASSERT_EQ(TpDescribe(receiver.get(), 0, described, sizeof described, &describedLen), 0);
            EXPECT_NE(std::string(described).find(HexDigits(received)), std::string::npos) << described;
            EXPECT_EQ(std::string(described).find(HexDigits(computed)), std::string::npos) << described;
        }
    }
}

TEST_F(MacCoverageTest, SetMacCoversRefusesWhatTheAlgorithmCannotCover)
{
    auto s = SessionOn(kStandard[1]);
    ASSERT_TRUE(s);
    const std::vector<unsigned char> key = KeyOf(16);
    const std::string message = Purchase(s.get(), key);
    EXPECT_EQ(TpSetMacCovers(nullptr, TP_MAC_COVERS_DATA), -1);
    const struct {
        int covers;
        const char *error;
    } refused[] = {
        {0, "2 tranpak: TpSetMacCovers() covers = 0, not MESSAGE (1) or DATA (2)"},
        {3, "2 tranpak: TpSetMacCovers() covers = 3, not MESSAGE (1) or DATA (2)"},
    };
    for (const auto &r : refused) {
        EXPECT_EQ(TpSetMacCovers(s.get(), r.covers), -1) << r.covers;
        EXPECT_EQ(LastError(s.get()), r.error);
        EXPECT_EQ(Purchase(s.get(), key), message) << r.covers;  // the session keeps its coverage
    }
    // TpSetMacAlgorithm sets its algorithm's default: LEGACY the data area,
    // which it cannot leave for the whole message.
    ASSERT_EQ(TpSetMacAlgorithm(s.get(), TP_MAC_LEGACY, TP_MAC_PAD1, 8), 0);
    EXPECT_EQ(TpSetMacCovers(s.get(), TP_MAC_COVERS_MESSAGE), -1);
    EXPECT_EQ(LastError(s.get()), "2 tranpak: TpSetMacCovers() covers = MESSAGE, LEGACY covers the data area only");
    EXPECT_EQ(TpSetMacCovers(s.get(), TP_MAC_COVERS_DATA), 0);
    int covers = -1;
    ASSERT_EQ(TpGetMacAlgorithm(s.get(), nullptr, nullptr, nullptr, &covers), 0);
    EXPECT_EQ(covers, TP_MAC_COVERS_DATA);
    // Back to a standard algorithm: the whole message again, until told.
    ASSERT_EQ(TpSetMacAlgorithm(s.get(), TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD1, 16), 0);
    EXPECT_EQ(Purchase(s.get(), key), message);
    ASSERT_EQ(TpSetMacCovers(s.get(), TP_MAC_COVERS_DATA), 0);
    EXPECT_NE(Purchase(s.get(), key), message);
    ASSERT_EQ(TpSetMacCovers(s.get(), TP_MAC_COVERS_MESSAGE), 0);
    EXPECT_EQ(Purchase(s.get(), key), message);
    // An uninitialised session is refused by both.
    auto blank = std::make_unique<TpSession>();
    std::memset(blank.get(), 0, sizeof *blank);
    EXPECT_EQ(TpSetMacCovers(blank.get(), TP_MAC_COVERS_DATA), -1);
    EXPECT_EQ(TpGetMacAlgorithm(blank.get(), nullptr, nullptr, nullptr, &covers), -1);
}

// The [MAC] section as Init8583 reads it: COVERS, and keys it does not know.
class MacSectionTest : public ScratchTest {
protected:
    // The MAC a default session took from the section: algorithm, padding,
    // key length, coverage; or the failure.
    static std::string Taken(const std::string &lines)
    {
        if (InitWith(kExampleDefinitions, false, lines) != 0)
            return "refused: " + LastErr();
        auto s = std::make_unique<TpSession>();
        if (TpInit8583(s.get(), nullptr) != 0)
            return "session refused";
        int algorithm = -1, padding = -1, keyLen = -1, covers = -1;
        TpGetMacAlgorithm(s.get(), &algorithm, &padding, &keyLen, &covers);
        return std::string(MacNameOf(algorithm) ? MacNameOf(algorithm)->name : "?") + " " + std::to_string(padding) +
               " " + std::to_string(keyLen) + " " + MacCoversName(covers);
    }
};

TEST_F(MacSectionTest, CoversIsReadAndRefusedWhereItCannotHold)
{
    const struct {
        const char *lines, *taken;
    } cases[] = {
        {"", "LEGACY 1 8 DATA"},
        {"[MAC]\nALGORITHM=AES-CMAC\n", "AES-CMAC 1 16 MESSAGE"},
        {"[MAC]\nALGORITHM=AES-CMAC\nCOVERS=MESSAGE\n", "AES-CMAC 1 16 MESSAGE"},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG3\nPADDING=2\nCOVERS=data\n", "ISO9797-1-ALG3 2 16 DATA"},
        {"[MAC]\nALGORITHM=TDES-CMAC\nKEYLEN=24\ncovers = Data\n", "TDES-CMAC 1 24 DATA"},
        {"[MAC]\nALGORITHM=LEGACY\nCOVERS=DATA\n", "LEGACY 1 8 DATA"},
        {"[MAC]\n; a comment, then a blank line\n\nALGORITHM=ISO9797-1-ALG1\nKEYLEN\n", "ISO9797-1-ALG1 1 16 MESSAGE"},
        // A key of another section is no key of this one.
        {"[MAC]\nALGORITHM=AES-CMAC\n[Other]\nALGORTHM=x\n", "AES-CMAC 1 16 MESSAGE"},
        {"[MAC]\nALGORITHM=AES-CMAC\nCOVERS=ALL\n", "refused: tranpak: [MAC] COVERS=ALL is not MESSAGE or DATA"},
        {"[MAC]\nCOVERS=MESSAGE\n",
         "refused: tranpak: [MAC] COVERS=MESSAGE is not taken by LEGACY, which covers the data area only "
         "(COVERS=DATA)"},
        {"[MAC]\nALGORITHM=legacy\nCOVERS=message\n",
         "refused: tranpak: [MAC] COVERS=message is not taken by LEGACY, which covers the data area only "
         "(COVERS=DATA)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Taken(c.lines), c.taken) << c.lines;
}

TEST_F(MacSectionTest, MisspeltKeysFailInitNamingThem)
{
    const struct {
        const char *lines, *message;
    } cases[] = {
        {"[MAC]\nALGORTHM=AES-CMAC\n", "tranpak: [MAC] key ALGORTHM is not ALGORITHM, PADDING, KEYLEN or COVERS"},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG3\nPADING=2\n",
         "tranpak: [MAC] key PADING is not ALGORITHM, PADDING, KEYLEN or COVERS"},
        {"[mac]\n  Key Len = 16\n", "tranpak: [MAC] key Key Len is not ALGORITHM, PADDING, KEYLEN or COVERS"},
        {"[MAC]\nALGORITHM=AES-CMAC\nCOVER\n", "tranpak: [MAC] key COVER is not ALGORITHM, PADDING, KEYLEN or COVERS"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(InitWith(kExampleDefinitions, false, c.lines), -1) << c.lines;
        EXPECT_EQ(LastErr(), c.message) << c.lines;
        char text[300];
        EXPECT_EQ(::GetLastErrMesg(text, sizeof text), TRANPAK_ERR_SETTINGS) << c.lines;
    }
}

TEST(ProfileKeys, FirstKeyOutsideTheKnownOnesOfTheFirstSectionOfThatName)
{
    const std::string file = testing::TempDir() + "profile_keys.ini";
    const char *const known[] = {"ALPHA", "BETA"};
    const struct {
        const char *text;
        int found;
        const char *key;
    } cases[] = {
        {"[S]\nalpha=1\n Beta = 2\n", 0, ""},
        {"[S]\nALPHA=1\nGAMMA=3\nDELTA=4\n", 1, "GAMM"},  // the first, cut to fit out
        {"[T]\nGAMMA=3\n[ s ]\nBETA\n", 0, ""},
        {"[S]\n;GAMMA=3\n\n=no key\n", 0, ""},
        {"[S]\nALPHA=1\n[S]\nGAMMA=3\n", 0, ""},  // only the first [S] is read
        {"[S]\r\n\tlong key name=1\r\n", 1, "long"},
        {"no section\nGAMMA=1\n", 0, ""},
    };
    for (const auto &c : cases) {
        WriteFile(file, c.text);
        char out[5] = "xxxx";
        EXPECT_EQ(os::FindProfileKeyOutside("S", known, 2, out, sizeof out, file.c_str()), c.found) << c.text;
        EXPECT_STREQ(out, c.key) << c.text;
    }
    char out[8] = "x";
    EXPECT_EQ(os::FindProfileKeyOutside("S", known, 2, out, sizeof out, (file + ".missing").c_str()), 0);
    EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace tranpak::test
