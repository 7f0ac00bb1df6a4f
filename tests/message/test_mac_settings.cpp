// Field 64 under another algorithm: the [MAC] section, TpSetMacAlgorithm,
// and the keys that packing and checking then read.
#include "api/session.h"
#include "kit/mac_names.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

constexpr char kCovered[] = "0812345678000123000000001000";  // the worked example's fields 2 to 4
constexpr int kMacOffset = 45;                               // field 64 in its frame

// What a MAC over the whole message covers in the worked example, put
// together by hand: the type, the bitmap of fields 2, 3, 4 and 64, then
// the fields before field 64.
const std::string kWholeExample = std::string("0200") + std::string("\x70\0\0\0\0\0\0\x01", 8) + kCovered;

// The one table of MAC names that the settings file and the tools' --mac
// read: every code has its name, found again in any case; near misses are
// no name.
TEST(MacNames, EveryAlgorithmIsFoundByItsNameInAnyCase)
{
    const struct {
        int algorithm;
        const char *asTyped;
        const char *name;
    } kRows[] = {
        {TP_MAC_LEGACY, "legacy", "LEGACY"},
        {TP_MAC_ISO9797_1_ALG1, "Iso9797-1-Alg1", "ISO9797-1-ALG1"},
        {TP_MAC_ISO9797_1_ALG3, "iso9797-1-alg3", "ISO9797-1-ALG3"},
        {TP_MAC_TDES_CMAC, "tdes-cmac", "TDES-CMAC"},
        {TP_MAC_AES_CMAC, "AES-cmac", "AES-CMAC"},
    };
    for (const auto &r : kRows) {
        const MacName *byName = FindMacName(r.asTyped);
        ASSERT_NE(byName, nullptr) << r.asTyped;
        EXPECT_EQ(byName->algorithm, r.algorithm) << r.asTyped;
        ASSERT_NE(MacNameOf(r.algorithm), nullptr) << r.algorithm;
        EXPECT_STREQ(MacNameOf(r.algorithm)->name, r.name);
    }
    for (const char *miss : {"", "LEGAC", "LEGACYX", "AES CMAC", "ISO9797-1-ALG2"})
        EXPECT_EQ(FindMacName(miss), nullptr) << miss;
    EXPECT_EQ(MacNameOf(99), nullptr);
}

std::vector<unsigned char> KeyOf(int len)
{
    std::vector<unsigned char> key(static_cast<size_t>(len));
    for (int i = 0; i < len; ++i)
        key[static_cast<size_t>(i)] = static_cast<unsigned char>(0x31 + 7 * i);
    return key;
}

std::string LastError(TpSession *s)
{
    char text[300] = {};
    const int category = TpGetLastErrMesg(s, text, sizeof text);
    return std::to_string(category) + " " + text;
}

class MacSettingsTest : public ScratchTest {
protected:
    // A session from the settings file with the [MAC] lines given.
    std::unique_ptr<TpSession> SessionWith(const std::string &macLines)
    {
        auto s = std::make_unique<TpSession>();
        if (InitWith(kExampleDefinitions, false, macLines) != 0 || TpInit8583(s.get(), nullptr) != 0)
            return nullptr;
        return s;
    }
    static void SetExample(TpSession *s)
    {
        TpSetCell(s, 0, "0200");
        TpSetCell(s, 2, "12345678");
        TpSetCell(s, 3, "123");
        double amount = 10.00;
        TpSetCell(s, 4, &amount);
    }
    // The frame of the worked example under key, or "" when packing fails.
    static std::string Frame(TpSession *s, const std::vector<unsigned char> &key)
    {
        SetExample(s);
        unsigned char frame[2048];
        int len = 0;
        if (TpPackMesg(s, key.data(), frame, sizeof frame, &len) != 0)
            return "";
        return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
    }
};

struct Choice {
    const char *lines;
    int algorithm, padding, keyLen;
};

const Choice kChoices[] = {
    {"[MAC]\nALGORITHM=ISO9797-1-ALG1\nKEYLEN=8\n", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, 8},
    {"[MAC]\nALGORITHM=ISO9797-1-ALG1\nPADDING=2\n", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD2, 16},
    {"[MAC]\nALGORITHM=iso9797-1-alg1\nKEYLEN=24\n", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, 24},
    {"[MAC]\nALGORITHM=ISO9797-1-ALG3\n", TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD1, 16},
    {"[MAC]\nALGORITHM=ISO9797-1-ALG3\nPADDING=2\nKEYLEN=24\n", TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, 24},
    {"[MAC]\nALGORITHM=TDES-CMAC\nKEYLEN=24\n", TP_MAC_TDES_CMAC, 0, 24},
    {"[MAC]\nALGORITHM=AES-CMAC\n", TP_MAC_AES_CMAC, 0, 16},
    {"[MAC]\nALGORITHM=AES-CMAC\nKEYLEN=32\nPADDING=2\n", TP_MAC_AES_CMAC, 0, 32},
};

TEST_F(MacSettingsTest, SectionChoosesTheMacOfFieldSixtyFour)
{
    auto legacy = SessionWith("");
    ASSERT_TRUE(legacy);
    const std::string legacyFrame = Frame(legacy.get(), KeyOf(8));
    ASSERT_EQ(legacyFrame.size(), 54u);
    for (const Choice &c : kChoices) {
        auto sender = SessionWith(c.lines);
        auto receiver = SessionWith(c.lines);
        ASSERT_TRUE(sender && receiver) << c.lines;
        std::vector<unsigned char> key = KeyOf(c.keyLen);
        const std::string frame = Frame(sender.get(), key);
        unsigned char want[8];
        ASSERT_EQ(TpMac(c.algorithm, c.padding, key.data(), c.keyLen, kWholeExample.data(), 40, want, 8), 0);
        EXPECT_EQ(Hex(frame.data() + kMacOffset, 8), Hex(want, 8)) << c.lines;
        // Everything but the eight MAC bytes is the frame of old.
        EXPECT_EQ(frame.substr(0, kMacOffset), legacyFrame.substr(0, kMacOffset)) << c.lines;
        EXPECT_EQ(frame.substr(kMacOffset + 8), legacyFrame.substr(kMacOffset + 8)) << c.lines;

        ASSERT_EQ(TpUnpackMesg(receiver.get(), reinterpret_cast<const unsigned char *>(frame.data()),
                               static_cast<int>(frame.size())),
                  0);
        EXPECT_EQ(TpCheckMesgMac(receiver.get(), key.data()), 0) << c.lines;
        // Every byte of the key counts, the last one included.
        key.back() ^= 0x02;
        EXPECT_EQ(TpCheckMesgMac(receiver.get(), key.data()), -1) << c.lines;
        EXPECT_EQ(LastError(receiver.get()), "7 tranpak: mac check error") << c.lines;
        // A receiver on the library's own MAC refuses it too.
        ASSERT_EQ(TpUnpackMesg(legacy.get(), reinterpret_cast<const unsigned char *>(frame.data()),
                               static_cast<int>(frame.size())),
                  0);
        EXPECT_EQ(TpCheckMesgMac(legacy.get(), KeyOf(8).data()), -1) << c.lines;
    }
}

TEST_F(MacSettingsTest, WithoutTheSectionOrWithLegacyNothingChanges)
{
    const std::vector<unsigned char> key = KeyOf(8);
    unsigned char legacyMac[8];
    ASSERT_EQ(TpMac(TP_MAC_LEGACY, 0, key.data(), 8, kCovered, 28, legacyMac, 8), 0);
    for (const char *lines : {"", "[MAC]\n", "[MAC]\nALGORITHM=LEGACY\n", "[MAC]\nALGORITHM=\nKEYLEN=8\nPADDING=2\n"}) {
        auto s = SessionWith(lines);
        ASSERT_TRUE(s) << lines;
        const std::string frame = Frame(s.get(), key);
        EXPECT_EQ(Hex(frame.data() + kMacOffset, 8), Hex(legacyMac, 8)) << lines;
    }
}

TEST_F(MacSettingsTest, BadValuesFailInitNamingKeyAndValue)
{
    const struct {
        const char *lines, *message;
    } cases[] = {
        {"[MAC]\nALGORITHM=DES\n",
         "tranpak: [MAC] ALGORITHM=DES is not LEGACY, ISO9797-1-ALG1, ISO9797-1-ALG3, TDES-CMAC or AES-CMAC"},
        {"[MAC]\nALGORITHM=AES-CMAC-256\n",
         "tranpak: [MAC] ALGORITHM=AES-CMAC-256 is not LEGACY, ISO9797-1-ALG1, ISO9797-1-ALG3, TDES-CMAC or AES-CMAC"},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG3\nPADDING=3\n", "tranpak: [MAC] PADDING=3 is not 1 or 2"},
        {"[MAC]\nPADDING=one\n", "tranpak: [MAC] PADDING=one is not 1 or 2"},
        {"[MAC]\nALGORITHM=AES-CMAC\nKEYLEN=8\n",
         "tranpak: [MAC] KEYLEN=8 is not a key length of AES-CMAC (16, 24 or 32)"},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG3\nKEYLEN=8\n",
         "tranpak: [MAC] KEYLEN=8 is not a key length of ISO9797-1-ALG3 (16 or 24)"},
        {"[MAC]\nALGORITHM=ISO9797-1-ALG1\nKEYLEN=32\n",
         "tranpak: [MAC] KEYLEN=32 is not a key length of ISO9797-1-ALG1 (8, 16 or 24)"},
        {"[MAC]\nKEYLEN=16\n", "tranpak: [MAC] KEYLEN=16 is not a key length of LEGACY (8)"},
        {"[MAC]\nALGORITHM=TDES-CMAC\nKEYLEN=16 bytes\n",
         "tranpak: [MAC] KEYLEN=16 bytes is not a key length of TDES-CMAC (16 or 24)"},
        {"[MAC]\nALGORITHM=TDES-CMAC\nKEYLEN=99999999999\n",
         "tranpak: [MAC] KEYLEN=99999999999 is not a key length of TDES-CMAC (16 or 24)"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(InitWith(kExampleDefinitions, false, c.lines), -1) << c.lines;
        EXPECT_EQ(LastErr(), c.message) << c.lines;
        char text[300];
        EXPECT_EQ(::GetLastErrMesg(text, sizeof text), TRANPAK_ERR_SETTINGS) << c.lines;
    }
}

TEST_F(MacSettingsTest, DefaultSessionChecksUnderTheSection)
{
    ASSERT_EQ(InitWith(kExampleDefinitions, false, "[MAC]\nALGORITHM=AES-CMAC\nKEYLEN=32\n"), 0);
    std::vector<unsigned char> key = KeyOf(32);
    // The message as a receive leaves it.
    MesgState &m = DefaultMesg();
    std::memcpy(m.packet.txcode, kWholeExample.data(), 4);
    std::memcpy(m.packet.bitmap, kWholeExample.data() + 4, 8);
    std::memcpy(m.packet.data, kCovered, 28);
    ASSERT_EQ(TpMac(TP_MAC_AES_CMAC, 0, key.data(), 32, kWholeExample.data(), 40, m.packet.data + 28, 8), 0);
    std::memcpy(m.cells[63].buf, m.packet.data + 28, 8);
    m.packet.len = 48;
    EXPECT_EQ(::CheckMesgMac(key.data()), 0);
    key[31] ^= 0x80;
    EXPECT_EQ(::CheckMesgMac(key.data()), -1);
    EXPECT_EQ(LastErr(), "tranpak: mac check error");
}

TEST_F(MacSettingsTest, SetMacAlgorithmPerSession)
{
    WriteFile("bitmap.txt", kExampleDefinitions);
    TpSettings settings{};
    settings.errFile = "errlog.txt";
    settings.bmpFile = "bitmap.txt";
    auto s = std::make_unique<TpSession>();
    std::memset(s.get(), 0, sizeof *s);
    EXPECT_EQ(TpSetMacAlgorithm(nullptr, TP_MAC_AES_CMAC, 0, 16), -1);
    EXPECT_EQ(TpSetMacAlgorithm(s.get(), TP_MAC_AES_CMAC, 0, 16), -1);  // not initialised
    ASSERT_EQ(TpInit8583With(s.get(), &settings), 0);
    const std::string legacy = Frame(s.get(), KeyOf(8));

    const struct {
        int algorithm, padding, keyLen;
        const char *error;
    } refused[] = {
        {2, 1, 16, "2 tranpak: TpSetMacAlgorithm() algorithm = 2, no such MAC"},
        {TP_MAC_ISO9797_1_ALG3, 0, 16, "2 tranpak: TpSetMacAlgorithm() padding = 0, not 1 or 2"},
        {TP_MAC_ISO9797_1_ALG3, 1, 32,
         "2 tranpak: TpSetMacAlgorithm() keyLen = 32, not a key length of ISO9797-1-ALG3"},
        {TP_MAC_LEGACY, 1, 16, "2 tranpak: TpSetMacAlgorithm() keyLen = 16, not a key length of LEGACY"},
    };
    for (const auto &r : refused) {
        EXPECT_EQ(TpSetMacAlgorithm(s.get(), r.algorithm, r.padding, r.keyLen), -1);
        EXPECT_EQ(LastError(s.get()), r.error);
        EXPECT_EQ(Frame(s.get(), KeyOf(8)), legacy);  // the session keeps its MAC
    }

    ASSERT_EQ(TpSetMacAlgorithm(s.get(), TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, 24), 0);
    const std::vector<unsigned char> key = KeyOf(24);
    const std::string frame = Frame(s.get(), key);
    unsigned char want[8];
    ASSERT_EQ(TpMac(TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, key.data(), 24, kWholeExample.data(), 40, want, 8), 0);
    EXPECT_EQ(Hex(frame.data() + kMacOffset, 8), Hex(want, 8));

    // Back to the library's own MAC; a new TpInit8583With starts there too.
    ASSERT_EQ(TpSetMacAlgorithm(s.get(), TP_MAC_LEGACY, 0, 8), 0);
    EXPECT_EQ(Frame(s.get(), KeyOf(8)), legacy);
    ASSERT_EQ(TpSetMacAlgorithm(s.get(), TP_MAC_AES_CMAC, 0, 16), 0);
    ASSERT_EQ(TpInit8583With(s.get(), &settings), 0);
    EXPECT_EQ(Frame(s.get(), KeyOf(8)), legacy);
}

// A ready session copied to storage that is not aligned as a TpSession is
// refused, as every session function refuses it: nothing is read through
// the misaligned record and nothing of it is written.
TEST_F(MacSettingsTest, SetMacAlgorithmRefusesMisalignedStorage)
{
    auto ready = SessionWith("");
    ASSERT_TRUE(ready);
    constexpr size_t kRoom = sizeof(TpSession) + alignof(TpSession);
    auto block = std::make_unique<unsigned char[]>(kRoom);
    auto *aligned = reinterpret_cast<unsigned char *>(
        (reinterpret_cast<uintptr_t>(block.get()) + alignof(TpSession) - 1) / alignof(TpSession) * alignof(TpSession));
    for (size_t shift : {size_t{1}, size_t{4}, alignof(TpSession) / 2}) {
        std::memset(block.get(), 0, kRoom);
        std::memcpy(aligned + shift, ready.get(), sizeof(TpSession));
        const std::vector<unsigned char> before(block.get(), block.get() + kRoom);
        EXPECT_EQ(TpSetMacAlgorithm(reinterpret_cast<TpSession *>(aligned + shift), TP_MAC_AES_CMAC, 0, 32), -1)
            << shift;
        EXPECT_TRUE(std::equal(before.begin(), before.end(), block.get())) << shift;
    }
}

}  // namespace
}  // namespace tranpak::test
