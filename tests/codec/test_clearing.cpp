// Clearing the message costs what it used; these check that nothing it
// skips could ever be seen, and the word-at-a-time paths of packing,
// unpacking and the MAC against plain references.
#include "api/session.h"
#include "message/mesg_state.h"
#include "message/text_check.h"
#include "codec/bitmap.h"
#include "crypto/des.h"
#include "codec/mac.h"
#include "crypto/fold.h"
#include "codec/packet.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstdio>
#include <cstring>
#include <random>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

// Every type, fixed and variable, and field 64.
const char kDefs[] =
    "T ANS 12 2\nI NI 11 3\nF NF 12 4\nA A 10 5\nX AN 20,2 6\nN N 19,2 7\n"
    "B B 16 8\nV ANS 399,3 9\nL ANS 399 10\nMAC B 8 64\n";

class ClearingTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kDefs), 0);
    }
    // Every record unused with a buf of zero bytes.
    static void ExpectAllClear(const std::string &when)
    {
        static const char zeros[kCellBufSize] = {};
        for (int i = 0; i < kCellCount; ++i) {
            EXPECT_EQ(DefaultMesg().cells[i].used, 0) << when << " record " << i;
            EXPECT_EQ(std::memcmp(DefaultMesg().cells[i].buf, zeros, kCellBufSize), 0) << when << " record " << i;
            EXPECT_EQ(DefaultMesg().cells[i].binlen, 0) << when << " record " << i;
        }
    }
    // Takes a frame's body in as a receive does, then unpacks it.
    static int Unpack(const std::string &frame, bool expectCleared = false)
    {
        ResetMesg();
        if (expectCleared)
            ExpectAllClear("before unpacking");
        Packet &p = DefaultMesg().packet;
        p.len = static_cast<int>(frame.size()) - kFrameOverhead;
        std::memcpy(p.bitmap, frame.data() + 9, 8);
        std::memcpy(p.data, frame.data() + 17, frame.size() - 18);
        return UnpackMesg(DefaultMesg());
    }
    static std::string Build()
    {
        unsigned char frame[kFrameBufSize];
        int len = 0;
        return BuildPacket(DefaultMesg(), DefaultDes(), frame, kKey, &len) == 0
                   ? std::string(reinterpret_cast<char *>(frame), len)
                   : "";
    }
};

std::string RandomText(std::mt19937 &rng, int maxLen, const char *alphabet)
{
    std::string s(rng() % (maxLen + 1), ' ');
    for (char &c : s)
        c = alphabet[rng() % std::strlen(alphabet)];
    return s;
}

TEST_F(ClearingTest, NoHistoryLeavesAnythingAfterResetMesg)
{
    std::mt19937 rng(11);
    std::vector<std::string> frames;
    BackupMesg();  // so that every restore brings the definitions back
    for (int round = 0; round < 2000; ++round) {
        const int op = static_cast<int>(rng() % 9);
        const int field = 2 + static_cast<int>(rng() % 9);
        if (op == 0) {
            ResetMesg();
            ExpectAllClear("round " + std::to_string(round));
        } else if (op <= 3) {
            // Values of any kind into any field, refused ones included.
            double amount = static_cast<double>(rng() % 100000) / 100;
            int32_t number = static_cast<int32_t>(rng());
            unsigned char bytes[16];
            for (unsigned char &b : bytes)
                b = static_cast<unsigned char>(rng());
            std::string text = RandomText(rng, 300, "a1 -x\t9Z");
            const void *value = field == 3   ? static_cast<const void *>(&number)
                                : field == 4 ? static_cast<const void *>(&amount)
                                : field == 8 ? static_cast<const void *>(bytes)
                                             : static_cast<const void *>(text.c_str());
            SetCell(field, value);
        } else if (op == 4) {
            std::string frame = Build();
            if (!frame.empty())
                frames.push_back(frame);
        } else if (op == 5 && !frames.empty()) {
            // A kept frame, whole or cut short or with a byte changed, so
            // that unpacking also stops part way.
            std::string frame = frames[rng() % frames.size()];
            if (rng() % 2)
                frame[17 + rng() % (frame.size() - 18)] = static_cast<char>(rng());
            if (rng() % 3 == 0)
                frame.resize(18 + rng() % (frame.size() - 17));
            Unpack(frame, true);
            ::CheckMesgMac(kKey);
        } else if (op == 6) {
            ResetCell(field);
        } else if (op == 7) {
            BackupMesg();
        } else {
            RestoreMesg();
        }
    }
    ResetMesg();
    ExpectAllClear("end");
}

TEST_F(ClearingTest, EachWayOfWritingARecordIsCleared)
{
    const int32_t number = -123456;
    const double amount = 98.76;
    const unsigned char bytes[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 1, 2, 3, 4, 5, 6, 7};
    const std::string text = std::string(300, 'y');
    const std::vector<std::pair<int, const void *>> values = {
        {2, "text"}, {3, &number}, {4, &amount},          {5, "Alpha"}, {6, "ab1"},
        {7, "-77"},  {8, bytes},   {9, text.c_str() + 5}, {10, "last"}};
    for (const auto &[field, value] : values) {
        ResetMesg();
        ASSERT_EQ(SetCell(field, value), 0) << field;
        ResetMesg();
        ExpectAllClear("after SetCell " + std::to_string(field));
    }
    // Packing writes field 64; unpacking and the MAC check write fields.
    ResetMesg();
    for (const auto &[field, value] : values)
        SetCell(field, value);
    const std::string frame = Build();
    ASSERT_FALSE(frame.empty());
    ResetMesg();
    ExpectAllClear("after packing");
    ASSERT_EQ(Unpack(frame), 0);
    ASSERT_EQ(::CheckMesgMac(kKey), 0);
    ResetMesg();
    ExpectAllClear("after unpacking");
}

TEST_F(ClearingTest, ReceivingAfterAnotherMessageHoldsOnlyTheNewOne)
{
    // A long message, then a short one over a real connection: the records
    // must be byte for byte those of the short one received alone.
    ResetMesg();
    SetCell(0, "0200");
    SetCell(2, "first text");
    const unsigned char bytes[16] = {1, 2, 3, 0, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    SetCell(8, bytes);
    SetCell(9, std::string(295, 'v').c_str());
    SetCell(10, "padded");
    const std::string longFrame = Build();
    ResetMesg();
    SetCell(0, "0210");
    SetCell(6, "ab12");
    const std::string shortFrame = Build();
    ASSERT_FALSE(longFrame.empty());
    ASSERT_FALSE(shortFrame.empty());

    ScriptedPeer peer({Send(longFrame + shortFrame)});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    ASSERT_GE(sock, 0);
    ASSERT_EQ(SockRecvMesg(sock, 0), 0) << LastErr();
    ASSERT_EQ(SockRecvMesg(sock, 0), 0) << LastErr();
    ::SockClose(sock);
    MesgState *afterBoth = new MesgState(DefaultMesg());

    DefaultMesg() = MesgState{};
    ASSERT_EQ(InitWith(kDefs), 0);
    ASSERT_EQ(Unpack(shortFrame), 0);
    EXPECT_EQ(std::memcmp(afterBoth->cells, DefaultMesg().cells, sizeof DefaultMesg().cells), 0);
    EXPECT_EQ(afterBoth->cells[9].used, 0);
    EXPECT_EQ(afterBoth->cells[9].buf[0], '\0');
    EXPECT_EQ(afterBoth->cells[7].buf[3], '\0');
    delete afterBoth;
}

TEST_F(ClearingTest, BackupAndRestoreStayExact)
{
    // Restoring before any backup gives the all-zero records.
    SetCell(2, "before");
    RestoreMesg();
    ExpectAllClear("restore without backup");
    EXPECT_EQ(DefaultMesg().cells[9].maxlen, 0);
    ASSERT_EQ(InitWith(kDefs), 0);

    ResetMesg();
    SetCell(2, "kept");
    SetCell(10, std::string(290, 'k').c_str());
    BackupMesg();
    MesgBackup *snapshot = new MesgBackup{DefaultMesg().packet, {}};
    std::memcpy(snapshot->cells, DefaultMesg().cells, sizeof DefaultMesg().cells);

    ResetMesg();
    SetCell(5, "Other");
    SetCell(9, std::string(200, 'o').c_str());
    RestoreMesg();
    EXPECT_EQ(std::memcmp(snapshot->cells, DefaultMesg().cells, sizeof DefaultMesg().cells), 0);
    EXPECT_EQ(std::memcmp(&snapshot->packet, &DefaultMesg().packet, sizeof DefaultMesg().packet), 0);
    delete snapshot;

    // Records written only before the backup are cleared after the restore.
    ResetMesg();
    ExpectAllClear("after restore");
}

TEST_F(ClearingTest, RestoreCopiesWhatDiffersAndKeepsTheBackupsNotes)
{
    // Values before the backup, values after it; the restore must give the
    // backup's records byte for byte (a longer value written after the
    // backup cleared past the backup's own, a record only one side wrote
    // brought back or cleared) and note as written only what the backup
    // held, so that the next clear costs that and no more.
    const struct {
        const char *name;
        std::vector<std::pair<int, std::string>> before, after;
        bool reinit;  // the definitions loaded again between backup and restore
    } cases[] = {
        {"nothing either side", {}, {}, false},
        {"short before, long after", {{9, "ab"}}, {{9, std::string(290, 'z')}}, false},
        {"long before, short after", {{9, std::string(290, 'k')}}, {{9, "x"}}, false},
        {"only before", {{2, "kept"}, {8, std::string(16, '\x7f')}}, {}, false},
        {"only after", {}, {{5, "Other"}, {10, std::string(200, 'o')}}, false},
        {"other fields each side", {{2, "kept"}}, {{10, "77"}, {6, "ab12"}}, false},
        {"definitions loaded again", {{2, "kept"}}, {{2, "after"}}, true},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(InitWith(kDefs), 0);
        ResetMesg();
        uint64_t expected = 0;
        for (const auto &[field, value] : c.before) {
            ASSERT_EQ(SetCell(field, value.c_str()), 0) << c.name << ": " << LastErr();
            expected |= uint64_t{1} << (field - 1);
        }
        BackupMesg();
        auto *snapshot = new MesgBackup{DefaultMesg().packet, {}, {}};
        std::memcpy(snapshot->cells, DefaultMesg().cells, sizeof DefaultMesg().cells);
        if (c.reinit)
            ASSERT_EQ(InitWith("T ANS 40 2\nMAC B 8 64\n"), 0);
        ResetMesg();
        for (const auto &[field, value] : c.after)
            SetCell(field, value.c_str());
        RestoreMesg();
        EXPECT_EQ(std::memcmp(snapshot->cells, DefaultMesg().cells, sizeof DefaultMesg().cells), 0) << c.name;
        EXPECT_EQ(std::memcmp(&snapshot->packet, &DefaultMesg().packet, sizeof DefaultMesg().packet), 0) << c.name;
        EXPECT_EQ(DefaultMesg().written.mask[0], expected) << c.name;
        EXPECT_EQ(DefaultMesg().written.mask[1], 0u) << c.name;
        delete snapshot;
        ResetMesg();
        ExpectAllClear(std::string(c.name) + ", cleared after the restore");
    }
}

// Records 64 to 127 (fields 65 to 128, set through the text functions)
// are noted, cleared, backed up and restored as the first 64 are; so is
// a variable B's length, and ResetMesg empties the secondary bitmap.
TEST_F(ClearingTest, TheRecordsOfTheSecondaryBitmapAreClearedAndRestored)
{
    ASSERT_EQ(InitWith(std::string(kDefs) + "K N 3 65\nICC B 255,3 100\nW ANS 399,3 127\nMAC2 B 8 128\n"), 0);
    const uint64_t high = uint64_t{1} << (65 - 65) | uint64_t{1} << (100 - 65) | uint64_t{1} << (128 - 65);
    ResetMesg();
    ASSERT_EQ(SetCellText(2, "kept"), 0);
    ASSERT_EQ(SetCellText(65, "123"), 0);
    ASSERT_EQ(SetCellText(100, "9F2701AA"), 0);
    ASSERT_EQ(SetCellText(128, "0102030405060708"), 0);
    EXPECT_EQ(DefaultMesg().written.mask[0], uint64_t{1} << 1);
    EXPECT_EQ(DefaultMesg().written.mask[1], high);
    EXPECT_EQ(DefaultMesg().cells[99].binlen, 4);
    BackupMesg();
    auto *snapshot = new MesgBackup{DefaultMesg().packet, {}, {}};
    std::memcpy(snapshot->cells, DefaultMesg().cells, sizeof DefaultMesg().cells);

    std::memset(DefaultMesg().packet.bitmap2, 0xA5, sizeof DefaultMesg().packet.bitmap2);
    ResetMesg();
    ExpectAllClear("after ResetMesg");
    const unsigned char none[8] = {};
    EXPECT_EQ(std::memcmp(DefaultMesg().packet.bitmap2, none, 8), 0);
    EXPECT_EQ(DefaultMesg().written.mask[1], 0u);

    // Other values, a longer one among them, then the backup back.
    ASSERT_EQ(SetCellText(127, std::string(390, 'w').c_str()), 0);
    ASSERT_EQ(SetCellText(100, std::string(500, 'F').c_str()), 0);
    EXPECT_EQ(DefaultMesg().cells[99].binlen, 250);
    RestoreMesg();
    EXPECT_EQ(std::memcmp(snapshot->cells, DefaultMesg().cells, sizeof DefaultMesg().cells), 0);
    EXPECT_EQ(DefaultMesg().written.mask[1], high);
    char text[32];
    ASSERT_EQ(GetCellText(100, text, sizeof text), 0);
    EXPECT_STREQ(text, "9F2701AA");
    delete snapshot;

    // ResetCell keeps to fields 1 to 64; the session's twin clears any.
    EXPECT_EQ(ResetCell(100), -1);
    EXPECT_EQ(DefaultMesg().cells[99].used, 1);
    ResetMesg();
    ExpectAllClear("after the restore");
}

TEST_F(ClearingTest, FailedPackingLeavesTheLaterBitsAsTheyWere)
{
    ResetMesg();
    std::memset(DefaultMesg().packet.bitmap, 0xFF, 8);
    SetCell(2, "ok");
    std::strcpy(DefaultMesg().cells[2].buf, "123456789012");  // too long for NI 11
    DefaultMesg().cells[2].used = 1;
    EXPECT_EQ(Build(), "");
    // Field 1 unused, 2 and 3 used, 4 to 64 untouched.
    EXPECT_EQ(Hex(DefaultMesg().packet.bitmap, 8), "7F FF FF FF FF FF FF FF");
}

TEST_F(ClearingTest, KeyChangedInTheSameBufferIsScheduledAgain)
{
    const unsigned char block[8] = {'0', '1', '2', '3', '4', '5', '6', '7'};
    unsigned char key[8];
    std::memcpy(key, kKey, 8);
    unsigned char first[8], second[8], again[8], fresh[8];
    DesBlock(block, first, key);
    key[3] ^= 0x10;  // a key bit, not a parity bit
    DesBlock(block, second, key);
    EXPECT_NE(std::memcmp(first, second, 8), 0);
    DesBlock(block, again, kKey);
    EXPECT_EQ(std::memcmp(first, again, 8), 0);
    DesBlock(block, fresh, key);
    EXPECT_EQ(std::memcmp(second, fresh, 8), 0);
}

TEST_F(ClearingTest, FoldMatchesByteByByteForEveryLength)
{
    std::mt19937 rng(7);
    unsigned char data[80];
    for (unsigned char &b : data)
        b = static_cast<unsigned char>(rng());
    for (int n = 0; n <= 80; ++n) {
        unsigned char want[8];
        std::memset(want, '0', 8);
        for (int k = 0; k < n; ++k)
            want[k % 8] ^= data[k];
        unsigned char got[8];
        FoldMac(data, n, got);
        EXPECT_EQ(Hex(got, 8), Hex(want, 8)) << n;
    }
}

// Each byte value at each place of a received number and text field: the
// result and message are those of the byte-by-byte checks.
TEST_F(ClearingTest, ReceivedContentChecksAgreeWithTheTextTests)
{
    struct Case {
        const char *bitmap;
        int index;
        int width;
        int (*passes)(const char *);
        const char *what;
    };
    const Case cases[] = {{"1000000000000000", 3, 12, IsNumberText, "number(NF)"},
                          {"0800000000000000", 4, 10, IsAlphaText, "alpha(A)"}};
    DefaultMesg().settings.errfile[0] = '\0';  // no log file: the reason is read back with GetLastErrMesg
    for (const Case &c : cases) {
        for (int at = 0; at < c.width; ++at) {
            for (int byte = 0; byte < 256; ++byte) {
                std::string value(c.width, c.index == 3 ? '7' : 'q');
                value[at] = static_cast<char>(byte);
                ResetMesg();
                std::memcpy(DefaultMesg().packet.bitmap, Unhex(c.bitmap).data(), 8);
                std::memcpy(DefaultMesg().packet.data, value.data(), value.size());
                DefaultMesg().packet.len = c.width + 12;
                const int rc = UnpackMesg(DefaultMesg());
                std::string want;
                if (byte == 0)
                    want =
                        "tranpak: BMPCell[" + std::to_string(c.index) + "] holds a NUL byte at " + std::to_string(at);
                else if (!c.passes(value.c_str()))
                    want = "tranpak: BMPCell[" + std::to_string(c.index) + "].buf: " + value + " not " + c.what;
                EXPECT_EQ(rc, want.empty() ? 0 : -1) << c.what << " " << at << " " << byte;
                char reason[kCellBufSize];
                GetLastErrMesg(reason, sizeof reason);
                // A lone byte from 0x80 up is no UTF-8 character: shown as
                // \xHH, as control bytes are (whose escaping is tested apart).
                if (byte >= 0x80 && !want.empty()) {
                    char shown[5];
                    std::snprintf(shown, sizeof shown, "\\x%02X", byte);
                    want.replace(want.find(static_cast<char>(byte)), 1, shown);
                }
                if (byte >= 0x20 && byte != 0x7F)
                    EXPECT_EQ(std::string(reason), want) << c.what << " " << at << " " << byte;
            }
        }
    }
}

TEST_F(ClearingTest, NulAfterZeroBytesOfABinaryFieldIsFoundInTheTextAfterIt)
{
    // Fixed ANS 12, then B 16 with zero bytes, then ANS 399,3 of 12
    // characters with a NUL at 5 or without one.
    const std::string binary("\0\0\x01\0\0\0\0\0\0\0\0\0\0\0\0\0", 16);
    DefaultMesg().settings.errfile[0] = '\0';
    for (bool withNul : {false, true}) {
        std::string text = "abcdefghijkl";
        if (withNul)
            text[5] = '\0';
        const std::string data = "fixed text  " + binary + "012" + text;
        ResetMesg();
        std::memcpy(DefaultMesg().packet.bitmap, Unhex("4180000000000000").data(), 8);
        std::memcpy(DefaultMesg().packet.data, data.data(), data.size());
        DefaultMesg().packet.len = static_cast<int>(data.size()) + 12;
        EXPECT_EQ(UnpackMesg(DefaultMesg()), withNul ? -1 : 0);
        char reason[kCellBufSize];
        GetLastErrMesg(reason, sizeof reason);
        EXPECT_STREQ(reason, withNul ? "tranpak: BMPCell[8].buf holds a NUL byte at 5" : "");
        EXPECT_EQ(DefaultMesg().cells[1].used, 1);
        EXPECT_EQ(DefaultMesg().cells[7].used, 1);
        EXPECT_EQ(DefaultMesg().cells[8].used, withNul ? 0 : 1);
    }
}

}  // namespace
}  // namespace tranpak::test
