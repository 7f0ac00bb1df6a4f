// Packing the message into a frame, unpacking a received data area.
#include "api/session.h"
#include "message/mesg_state.h"
#include "codec/bitmap.h"
#include "crypto/des.h"
#include "codec/mac.h"
#include "codec/packet.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const unsigned char kOtherKey[8] = {0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};

class PacketTest : public ScratchTest {
protected:
    // The frame of the current message, or "" when packing fails.
    static std::string Build(const unsigned char *key = kKey)
    {
        unsigned char frame[kFrameBufSize];
        int len = 0;
        if (BuildPacket(DefaultMesg(), DefaultDes(), frame, key, &len) != 0)
            return "";
        return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
    }
    // Takes a frame in as a receive does once it has read and checked it.
    static int Receive(const std::string &frame)
    {
        ResetMesg();
        Packet &p = DefaultMesg().packet;
        p.len = static_cast<int>(frame.size()) - kFrameOverhead;
        std::memcpy(p.txcode, frame.data() + 5, 4);
        p.txcode[4] = '\0';
        std::memcpy(p.bitmap, frame.data() + 9, 8);
        std::memcpy(p.data, frame.data() + 17, frame.size() - 18);
        p.stop = static_cast<unsigned char>(frame.back());
        return UnpackMesg(DefaultMesg());
    }
    static bool InitFilled(int dataLen);
    static std::string Field(int n)
    {
        char out[kCellBufSize + 1] = {};
        return GetCell(n, out) == 0 ? std::string(out) : "<unused>";
    }
};

TEST_F(PacketTest, BitmapBitsRunFromTheTopOfByteZero)
{
    unsigned char bitmap[8] = {};
    for (int i : {1, 2, 3, 63})
        SetBit(bitmap, 1, i);
    EXPECT_EQ(Hex(bitmap, 8), "70 00 00 00 00 00 00 01");
    SetBit(bitmap, 1, 0);
    SetBit(bitmap, 1, 7);
    EXPECT_EQ(bitmap[0], 0xF1);
    SetBit(bitmap, 0, 2);
    EXPECT_EQ(bitmap[0], 0xD1);
    EXPECT_EQ(TestBit(bitmap, 0), 1);
    EXPECT_EQ(TestBit(bitmap, 2), 0);
    EXPECT_EQ(TestBit(bitmap, 63), 1);
}

TEST_F(PacketTest, WorkedExampleFrameByteForByte)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    SetWorkedExample();
    std::string frame = Build();
    ASSERT_EQ(frame.size(), 54u);

    unsigned char mac[8];
    DesBlock(reinterpret_cast<const unsigned char *>(Unhex("3630313203050705").data()), mac, kKey);
    std::string want = Unhex("02 30303438 30323030 7000000000000001") + "0812345678" + "000123" + "000000001000" +
                       std::string(reinterpret_cast<char *>(mac), 8) + "\x03";
    EXPECT_EQ(Hex(frame.data(), frame.size()), Hex(want.data(), want.size()));
    EXPECT_EQ(DefaultMesg().packet.len, 48);
    EXPECT_EQ(DefaultMesg().cells[63].used, 0);  // packing neither reads nor sets it
    EXPECT_EQ(Build(), frame);                   // packing twice gives the same frame
}

// One field's definition and value, and the bytes it packs to (or the
// message when it is refused).
struct EncodeCase {
    const char *definition;
    const char *value;
    const char *bytesOrMessage;
    bool ok;
};

const EncodeCase kEncodeCases[] = {
    {"F N 6 2", "123", "000123", true},
    {"F N 6 2", "-12", "-00012", true},
    {"F N 6 2", "-12345", "-12345", true},
    {"F N 5 2", "+", "+0000", true},
    {"F N 4 2", "", "0000", true},
    {"F NI 6 2", "", "000000", true},
    {"F ANS 5 2", "ab", "ab   ", true},
    {"F A 3 2", "", "   ", true},
    {"F AN 4 2", "ab12", "ab12", true},
    {"F N 19,2 2", "12345678", "0812345678", true},
    {"F ANS 120,3 2", "", "000", true},
    {"F ANS 100,3 2", "hello", "005hello", true},
    // Field 2 holds card data: its value never shows in the log.
    {"F N 3 2", "1234", "tranpak: BMPCell[1].buf = ****, too long", false},
    {"F ANS 3 2", "abcd", "tranpak: BMPCell[1].buf = ****, too long", false},
    {"F N 5,2 2", "123456", "tranpak: PktData(F) BMPCell[1].maxlen = 5, len = 6", false},
    {"F ANS 120,2 2", "x*100", "tranpak: PktData(F) BMPCell[1].varlen = 2, len = 3", false},
    // A variable B field travels as its byte count and bytes (none here).
    {"F B 8,2 2", "", "00", true},
};

TEST_F(PacketTest, FieldEncodings)
{
    for (const EncodeCase &c : kEncodeCases) {
        DefaultMesg() = MesgState{};
        std::filesystem::remove("errlog.txt");
        ASSERT_EQ(InitWith(std::string(c.definition) + "\nMAC B 8 64\n"), 0) << c.definition;
        std::string value = std::strcmp(c.value, "x*100") == 0 ? std::string(100, 'x') : c.value;
        // Store the text as it stands, past SetCell's trimming and checks.
        std::strcpy(DefaultMesg().cells[1].buf, value.c_str());
        DefaultMesg().cells[1].used = 1;
        std::string frame = Build();
        if (c.ok) {
            ASSERT_FALSE(frame.empty()) << c.definition << " " << LastErr();
            EXPECT_EQ(frame.substr(17, frame.size() - 26), c.bytesOrMessage) << c.definition;
        } else {
            EXPECT_TRUE(frame.empty()) << c.definition;
            EXPECT_EQ(LastErr(), c.bytesOrMessage) << c.definition;
        }
    }
}

TEST_F(PacketTest, EmptyMessageCarriesOnlyTheMac)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    ResetMesg();
    SetCell(0, "0800");
    std::string frame = Build();
    ASSERT_EQ(frame.size(), 26u);
    EXPECT_EQ(frame.substr(1, 4), "0020");
    EXPECT_EQ(Hex(frame.data() + 9, 8), "00 00 00 00 00 00 00 01");
    unsigned char mac[8];
    DesBlock(reinterpret_cast<const unsigned char *>("00000000"), mac, kKey);
    EXPECT_EQ(frame.substr(17, 8), std::string(reinterpret_cast<char *>(mac), 8));
}

TEST_F(PacketTest, ApplicationValueInFieldSixtyFourIsReplaced)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    ResetMesg();
    SetCell(64, "ZZZZZZZZ");
    std::string frame = Build();
    EXPECT_NE(frame.substr(17, 8), "ZZZZZZZZ");
    EXPECT_EQ(frame.size(), 26u);
}

TEST_F(PacketTest, UnusedFieldsLoseTheirBitsOnEachPacking)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    ResetMesg();
    DefaultMesg().packet.bitmap[0] = 0xFF;  // left over from a received message
    SetCell(3, "1");
    std::string frame = Build();
    EXPECT_EQ(Hex(frame.data() + 9, 8), "20 00 00 00 00 00 00 01");
}

// Definitions whose fixed ANS fields add up to the given data length.
std::string FillDefinitions(int dataLen)
{
    std::string defs;
    int field = 2, left = dataLen - 8;
    while (left > 0) {
        int n = left > 399 ? 399 : left;
        defs += "F ANS " + std::to_string(n) + " " + std::to_string(field++) + "\n";
        left -= n;
    }
    return defs + "MAC B 8 64\n";
}

// A fresh message whose defined fields 1 to 63 are all used, packing to
// the given data length; false when the definitions do not load.
bool PacketTest::InitFilled(int dataLen)
{
    DefaultMesg() = MesgState{};
    if (InitWith(FillDefinitions(dataLen)) != 0)
        return false;
    ResetMesg();
    for (int i = 0; i < 63; ++i)
        if (DefaultMesg().cells[i].maxlen > 0)
            DefaultMesg().cells[i].used = 1;
    return true;
}

TEST_F(PacketTest, LargestFrameIs2047Bytes)
{
    ASSERT_TRUE(InitFilled(2029));
    std::string frame = Build();
    EXPECT_EQ(frame.size(), 2047u);
    EXPECT_EQ(frame.substr(1, 4), "2041");
    EXPECT_EQ(frame.back(), '\x03');

    ASSERT_TRUE(InitFilled(2030));
    EXPECT_EQ(Build(), "");
    EXPECT_EQ(LastErr(), "tranpak: received packet too long, len = 2048");
}

TEST_F(PacketTest, FieldsBeyondTheDataAreaAreRefusedBeforeWriting)
{
    ASSERT_TRUE(InitFilled(2400));
    EXPECT_EQ(Build(), "");
    EXPECT_EQ(LastErr(), "tranpak: PktData(F) BMPCell[6] needs 397 bytes, data area has 53 left");
}

TEST_F(PacketTest, RoundTripGivesTheSameValuesAndChecksTheMac)
{
    ASSERT_EQ(InitWith("TEXT ANS 20 2\nINT NI 11 3\nAMT NF 12 4\nALPHA A 10 5\nALNUM AN 10,2 6\n"
                       "NUM N 19,2 7\nBIN B 8 8\nFIRST ANS 3 1\nMAC B 8 64\n"),
              0);
    ResetMesg();
    SetCell(0, "0200");
    SetCell(1, "ab");
    SetCell(2, "some text");
    int i = -42;
    SetCell(3, &i);
    double amt = 1234.56;
    SetCell(4, &amt);
    SetCell(5, "Alpha Beta");
    SetCell(6, "A1 B2");
    SetCell(7, "-12345");
    const unsigned char bin[8] = {0, 1, 2, 0xFF, 0x03, 0x02, 0, 9};
    SetCell(8, bin);
    std::string frame = Build();
    ASSERT_FALSE(frame.empty()) << LastErr();

    DefaultMesg().cells[0].buf[0] = 'X';  // make sure values come from the frame
    ASSERT_EQ(Receive(frame), 0) << LastErr();
    EXPECT_EQ(Field(0), "0200");
    EXPECT_EQ(Field(1), "ab ");  // fixed text keeps its fill
    EXPECT_EQ(Field(2), "some text           ");
    int iBack = 0;
    GetCell(3, &iBack);
    EXPECT_EQ(iBack, -42);
    double aBack = 0;
    GetCell(4, &aBack);
    EXPECT_EQ(aBack, 1234.56);
    EXPECT_EQ(Field(5), "Alpha Beta");
    EXPECT_EQ(Field(6), "A1 B2");
    EXPECT_EQ(Field(7), "-12345");
    unsigned char binBack[8];
    GetCell(8, binBack);
    EXPECT_EQ(std::memcmp(binBack, bin, 8), 0);
    EXPECT_EQ(::CheckMesgMac(kKey), 0);
    EXPECT_EQ(::CheckMesgMac(kOtherKey), -1);
    EXPECT_EQ(LastErr(), "tranpak: mac check error");
}

// Received data areas: definitions, bitmap, data, result and message.
struct UnpackCase {
    const char *name;
    const char *definitions;
    const char *bitmapHex;
    std::string data;
    int rc;
    const char *message;
};

const char kDefs[] = "PAN N 19,2 2\nPROC N 6 3\nTEXT A 5 5\nVAR ANS 30,2 6\nMAC B 8 64\n";

const UnpackCase kUnpackCases[] = {
    {"fixed N filled with blanks", kDefs, "2000000000000000", "   123", -1,
     "tranpak: BMPCell[2].buf:    123 not number(N)"},
    {"undefined field", kDefs, "1000000000000000", "xxxx", -1, "tranpak: BMPCell[3] undefined"},
    {"prefix above maxlen", kDefs, "4000000000000000", "20" + std::string(20, '1'), -1,
     "tranpak: BMPCell[1] len = 20, too long"},
    {"prefix with a sign", kDefs, "0400000000000000", "-1abc", -1, "tranpak: BMPCell[5] len prefix -1 not number"},
    {"prefix with a blank", kDefs, "0400000000000000", " 3abc", -1, "tranpak: BMPCell[5] len prefix  3 not number"},
    {"value past the data", kDefs, "0400000000000000", "05abc", -1,
     "tranpak: BMPCell[5] needs 7 bytes at offset 0, received data has 5"},
    {"prefix past the data", kDefs, "0400000000000000", "0", -1,
     "tranpak: BMPCell[5] needs 2 bytes at offset 0, received data has 1"},
    {"fixed field past the data", kDefs, "2000000000000000", "123", -1,
     "tranpak: BMPCell[2] needs 6 bytes at offset 0, received data has 3"},
    {"NUL inside a text field", "INT NI 5 2\nMAC B 8 64\n", "4000000000000000", std::string("\0ABCD", 5), -1,
     "tranpak: BMPCell[1].buf holds a NUL byte at 0"},
    {"NUL at the end of a variable field", kDefs, "0400000000000000", std::string("03ab\0", 5), -1,
     "tranpak: BMPCell[5].buf holds a NUL byte at 2"},
    {"alpha with digits", kDefs, "0800000000000000", "ab1  ", -1, "tranpak: BMPCell[4].buf: ab1   not alpha(A)"},
    {"empty variable field", kDefs, "0400000000000000", "00", 0, ""},
    {"bytes after the last field are ignored", kDefs, "2000000000000000", "000123trailing", 0, ""},
    {"field 1 unpacks like any other", "ONE AN 2 1\nMAC B 8 64\n", "8000000000000000", "x1", 0, ""},
    {"field 64 arrives as raw bytes", kDefs, "0000000000000001", std::string("\0\x01\x02\x03\x04\x05\x06\x07", 8), 0,
     ""},
};

TEST_F(PacketTest, UnpackingChecksEachField)
{
    for (const UnpackCase &c : kUnpackCases) {
        DefaultMesg() = MesgState{};
        std::filesystem::remove("errlog.txt");
        ASSERT_EQ(InitWith(c.definitions), 0) << c.name;
        ResetMesg();
        std::memcpy(DefaultMesg().packet.bitmap, Unhex(c.bitmapHex).data(), 8);
        std::memcpy(DefaultMesg().packet.data, c.data.data(), c.data.size());
        DefaultMesg().packet.len = static_cast<int>(c.data.size()) + 12;
        EXPECT_EQ(UnpackMesg(DefaultMesg()), c.rc) << c.name;
        EXPECT_EQ(LastErr(), c.message) << c.name;
    }
}

TEST_F(PacketTest, ReceivedValuesKeepTheirFill)
{
    ASSERT_EQ(InitWith(kDefs), 0);
    ResetMesg();
    std::memcpy(DefaultMesg().packet.bitmap, Unhex("2C00000000000000").data(), 8);
    const char data[] = "000123ab   03xyz";
    std::memcpy(DefaultMesg().packet.data, data, sizeof data - 1);
    DefaultMesg().packet.len = sizeof data - 1 + 12;
    ASSERT_EQ(UnpackMesg(DefaultMesg()), 0) << LastErr();
    EXPECT_EQ(Field(3), "000123");
    EXPECT_EQ(Field(5), "ab   ");
    EXPECT_EQ(Field(6), "xyz");
}

TEST_F(PacketTest, FieldsBeforeAFailureStayUsedAndTheFailingOneDoesNot)
{
    ASSERT_EQ(InitWith(kDefs), 0);
    ResetMesg();
    std::memcpy(DefaultMesg().packet.bitmap, Unhex("2800000000000000").data(), 8);
    const char data[] = "000123ab1  ";
    std::memcpy(DefaultMesg().packet.data, data, sizeof data - 1);
    DefaultMesg().packet.len = sizeof data - 1 + 12;
    EXPECT_EQ(UnpackMesg(DefaultMesg()), -1);
    EXPECT_EQ(DefaultMesg().cells[2].used, 1);
    EXPECT_EQ(DefaultMesg().cells[4].used, 0);
    EXPECT_STREQ(DefaultMesg().cells[4].buf, "ab1  ");
}

// Frames that no peer with the same definitions could read are refused
// before anything is written or sent: a MAC that field 64 cannot carry as
// eight raw bytes, and a field that the definitions do not list.
TEST_F(PacketTest, FramesNoPeerCouldReadAreRefused)
{
    const std::string common = "PAN N 19,2 2\nPROCCODE N 6 3\n";
    const struct {
        const char *name, *definitions;
        int undefinedField;  // set to "" beside field 2; 0 for none
        const char *message;
    } cases[] = {
        {"MAC as text", "MAC ANS 8 64\n", 0,
         "tranpak: PktData(F) BMPCell[63] cannot carry the MAC (type = 0, maxlen = 8, varlen = 0; needs B 8)"},
        {"MAC as digits", "MAC N 8 64\n", 0,
         "tranpak: PktData(F) BMPCell[63] cannot carry the MAC (type = 5, maxlen = 8, varlen = 0; needs B 8)"},
        {"MAC of 16 bytes", "MAC B 16 64\n", 0,
         "tranpak: PktData(F) BMPCell[63] cannot carry the MAC (type = 6, maxlen = 16, varlen = 0; needs B 8)"},
        {"no field 64", "", 0,
         "tranpak: PktData(F) BMPCell[63] cannot carry the MAC (type = 0, maxlen = 0, varlen = 0; needs B 8)"},
        {"field 39 not listed", "MAC B 8 64\n", 39, "tranpak: BMPCell[38] undefined"},
        {"field 1 not listed", "MAC B 8 64\n", 1, "tranpak: BMPCell[0] undefined"},
    };
    for (const auto &c : cases) {
        WriteFile("defs.txt", common + c.definitions);
        TpSession s{};
        TpSettings settings{};
        settings.errFile = "errlog.txt";
        settings.bmpFile = "defs.txt";
        ASSERT_EQ(TpInit8583With(&s, &settings), 0) << c.name;
        ASSERT_EQ(TpSetCell(&s, 0, "0200"), 0);
        ASSERT_EQ(TpSetCell(&s, 2, "12345678"), 0);
        if (c.undefinedField != 0)
            ASSERT_EQ(TpSetCell(&s, c.undefinedField, ""), 0) << c.name;

        unsigned char frame[kFrameBufSize];
        std::memset(frame, 0xEE, sizeof frame);
        int frameLen = -7;
        EXPECT_EQ(TpPackMesg(&s, kKey, frame, sizeof frame, &frameLen), -1) << c.name;
        EXPECT_EQ(LastErr(), c.message) << c.name;
        EXPECT_EQ(frame[0], 0xEE) << c.name << ": something was written";

        // The socket function sends nothing at all.
        ScriptedPeer host({ReadToEnd()});
        const int sock = TpSockConnect(&s, "127.0.0.1", host.port());
        ASSERT_GE(sock, 0);
        EXPECT_EQ(TpSockSendMesg(&s, sock, kKey), -1) << c.name;
        EXPECT_EQ(LastErr(), c.message) << c.name;
        TpSockClose(&s, sock);
        EXPECT_EQ(host.Received(), "") << c.name;
        TpWipe(&s);
    }
}

TEST_F(PacketTest, PadRightNeverCuts)
{
    char out[16];
    PadRight(out, 5, "ab");
    EXPECT_STREQ(out, "ab   ");
    PadRight(out, 2, "abcd");
    EXPECT_STREQ(out, "abcd");
    PadRight(out, 0, "");
    EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace tranpak::test
