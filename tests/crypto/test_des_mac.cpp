// DES known answers, the MAC fold and CheckMesgMac.
#include "api/session.h"
#include "message/mesg_state.h"
#include "crypto/des.h"
#include "codec/mac.h"
#include "crypto/fold.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace tranpak::test {
namespace {

struct Vector {
    std::string key, plain, cipher;
};

std::vector<Vector> LoadVectors()
{
    std::ifstream in(std::string(TRANPAK_DATA_DIR) + "/des_vectors.txt");
    std::vector<Vector> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string k, p, c;
        fields >> k >> p >> c;
        out.push_back({Unhex(k), Unhex(p), Unhex(c)});
    }
    return out;
}

std::string Des(const std::string &key, const std::string &plain)
{
    unsigned char out[8];
    DesBlock(reinterpret_cast<const unsigned char *>(plain.data()), out,
             reinterpret_cast<const unsigned char *>(key.data()));
    return std::string(reinterpret_cast<char *>(out), 8);
}

TEST(Des, PublishedKnownAnswerVectorsPass)
{
    auto vectors = LoadVectors();
    ASSERT_GE(vectors.size(), 150u);  // the file holds the whole NIST sets
    int failed = 0;
    for (const Vector &v : vectors) {
        std::string got = Des(v.key, v.plain);
        if (got != v.cipher) {
            ++failed;
            ADD_FAILURE() << "key " << Hex(v.key.data(), 8) << " plain " << Hex(v.plain.data(), 8) << " gave "
                          << Hex(got.data(), 8) << ", want " << Hex(v.cipher.data(), 8);
        }
    }
    EXPECT_EQ(failed, 0);
}

TEST(Des, ParityBitsDoNotMatter)
{
    const std::string plain = "\x01\x23\x45\x67\x89\xAB\xCD\xEF";
    std::string key = Unhex("133457799BBCDFF1");
    std::string flipped = key;
    for (char &c : flipped)
        c ^= 1;
    EXPECT_EQ(Des(key, plain), Des(flipped, plain));
    EXPECT_EQ(Hex(Des(key, plain).data(), 8), "85 E8 13 54 0F 0A B4 05");
}

std::string Fold(const std::string &data)
{
    unsigned char acc[8];
    FoldMac(reinterpret_cast<const unsigned char *>(data.data()), static_cast<int>(data.size()), acc);
    return std::string(reinterpret_cast<char *>(acc), 8);
}

TEST(MacFold, WorkedExampleAccumulator)
{
    EXPECT_EQ(Hex(Fold("0812345678000123000000001000").data(), 8), "36 30 31 32 03 05 07 05");
}

TEST(MacFold, BlocksAndTheZeroFilledTail)
{
    EXPECT_EQ(Fold(""), "00000000");
    EXPECT_EQ(Fold("00000000"), std::string(8, '\0'));  // a whole block, no extra zero block
    std::string nine =
        "ABCDEFGH"
        "I";
    std::string manual = "00000000";
    for (int i = 0; i < 8; ++i)
        manual[i] ^= nine[i];
    manual[0] ^= 'I';
    EXPECT_EQ(Fold(nine), manual);
    // Trailing zero bytes inside the last block cannot be told from the fill.
    EXPECT_EQ(Fold("12345"), Fold(std::string("12345\0\0", 7)));
    // Whole blocks commute.
    EXPECT_EQ(Fold("AAAAAAAABBBBBBBBcc"), Fold("BBBBBBBBAAAAAAAAcc"));
    EXPECT_NE(Fold("AAAAAAAB"), Fold("AAAAAAAA"));
}

class MacCheckTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    }
    // Places covered data and its MAC as a receive leaves them.
    void Receive(const std::string &covered, const std::string &key)
    {
        std::memcpy(DefaultMesg().packet.data, covered.data(), covered.size());
        CalcMac(DefaultMesg(), DefaultDes(), reinterpret_cast<const unsigned char *>(key.data()),
                static_cast<int>(covered.size()));
        std::memcpy(DefaultMesg().packet.data + covered.size(), DefaultMesg().cells[63].buf, 8);
        DefaultMesg().packet.len = static_cast<int>(covered.size()) + 20;
        DefaultMesg().cells[63].used = 1;
    }
    std::string Mac() const { return std::string(DefaultMesg().cells[63].buf, 8); }

    const std::string key_ = "\x13\x34\x57\x79\x9B\xBC\xDF\xF1";
    const std::string otherKey_ = "\x01\x02\x03\x04\x05\x06\x07\x08";
};

TEST_F(MacCheckTest, MacOfNothingIsTheEncryptionOfEightZeroCharacters)
{
    CalcMac(DefaultMesg(), DefaultDes(), reinterpret_cast<const unsigned char *>(key_.data()), 0);
    EXPECT_EQ(Mac(), Des(key_, "00000000"));
}

TEST_F(MacCheckTest, CorrectMacPassesAndOtherKeyFails)
{
    Receive("0812345678000123000000001000", key_);
    EXPECT_EQ(Mac(), Des(key_, Unhex("3630313203050705")));
    EXPECT_EQ(::CheckMesgMac(key_.data()), 0);
    EXPECT_EQ(::CheckMesgMac(otherKey_.data()), -1);
    EXPECT_EQ(LastErr(), "tranpak: mac check error");
    // Field 64 still holds the MAC received, not the one the other key gives.
    EXPECT_EQ(Mac(), Des(key_, Unhex("3630313203050705")));
}

TEST_F(MacCheckTest, ChangedCoveredByteFails)
{
    Receive("0812345678000123000000001000", key_);
    DefaultMesg().packet.data[5] ^= 1;
    EXPECT_EQ(::CheckMesgMac(key_.data()), -1);
    EXPECT_EQ(LastErr(), "tranpak: mac check error");
}

TEST_F(MacCheckTest, MacNotAtTheEndIsRefusedAndLeftAlone)
{
    Receive("0812345678000123000000001000", key_);
    std::string mac = Mac();
    std::memcpy(DefaultMesg().packet.data + 36, "zz", 2);  // two bytes after field 64
    DefaultMesg().packet.len += 2;
    EXPECT_EQ(::CheckMesgMac(key_.data()), -1);
    EXPECT_EQ(LastErr(), "tranpak: mac is not in the end 8 bytes of rev packet");
    EXPECT_EQ(Mac(), mac);
}

TEST_F(MacCheckTest, LengthsWithoutRoomForAMacAreRefused)
{
    for (int len : {0, 19, -5, 2061, 100000}) {
        DefaultMesg().packet.len = len;
        EXPECT_EQ(::CheckMesgMac(key_.data()), -1) << len;
        EXPECT_EQ(LastErr(), "tranpak: CheckMesgMac() Packet.len = " + std::to_string(len) + ", no received mac");
    }
}

TEST_F(MacCheckTest, EmptyMessageWithZeroMacFieldFailsTheCheck)
{
    // A message without field 64 has zero bytes in its record; its last
    // eight data bytes are not those, so the first test refuses it.
    std::memcpy(DefaultMesg().packet.data, "12345678", 8);
    DefaultMesg().packet.len = 20;
    EXPECT_EQ(::CheckMesgMac(key_.data()), -1);
    EXPECT_EQ(LastErr(), "tranpak: mac is not in the end 8 bytes of rev packet");
}

}  // namespace
}  // namespace tranpak::test
