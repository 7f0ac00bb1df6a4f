// Message exchange on a socket in a wire dialect: the frame sent is the one
// TpPackMesg makes, a receive takes one frame whatever pieces it comes in
// and leaves the next for the next call, a length that cannot frame is
// refused, and a peer that stops mid-frame is a failure, not a hang.
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <memory>
#include <string>

namespace tranpak::test {
namespace {

constexpr char kDefinitions[] =
    "PAN       N     19,2    2\n"
    "PROCCODE  N     6       3\n"
    "AMOUNT    N     12      4\n"
    "RESPONSE  AN    2       39\n"
    "TERMID    ANS   8       41\n"
    "MAC       B     8       64\n";

const unsigned char kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

constexpr const char *kPresets[] = {
    "LENGTH=BINARY2\nENVELOPE=NONE\n",
    "LENGTH=BINARY2\nLENGTHCOUNTS=HEADER\nENVELOPE=NONE\nHEADER=TPDU:6000030000\nMTI=BCD\nNUMBERS=BCD\nPREFIX=BCD\n",
    "LENGTH=ASCII4\nENVELOPE=NONE\n",
    "LENGTH=BINARY2\nENVELOPE=NONE\nMTI=EBCDIC\nBITMAP=HEX\nCHARSET=EBCDIC037\n",
    "LENGTH=HEX4\nLENGTHCOUNTS=ALL\nHEADER=TEXT:ISO025\n",
};

class DialectExchangeTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        WriteFile("bitmap.txt", kDefinitions);
    }
    static std::unique_ptr<TpSession> Session(const std::string &wire, const std::string &name)
    {
        WriteFile(name,
                  "[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=bitmap.txt\n"
                  "[Com Timeout]\nRECV=5\n[Wire Format]\n" +
                      wire);
        auto s = std::make_unique<TpSession>();
        return TpInit8583(s.get(), name.c_str()) == 0 ? std::move(s) : nullptr;
    }
    static std::string Pack(TpSession *s, const char *type, const char *response)
    {
        TpResetMesg(s);
        TpSetCellText(s, 0, type);
        TpSetCellText(s, 2, "4111111111111");
        TpSetCellText(s, 4, "000000001250");
        TpSetCellText(s, 41, "TERM0001");
        if (response != nullptr)
            TpSetCellText(s, 39, response);
        unsigned char frame[4096];
        int len = 0;
        if (TpPackMesg(s, kKey, frame, sizeof frame, &len) != 0)
            return "";
        return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
    }
    static std::string Error(TpSession *s)
    {
        char text[300] = {};
        TpGetLastErrMesg(s, text, sizeof text);
        return text;
    }
    static std::string Text(TpSession *s, int field)
    {
        char text[512] = {};
        return TpGetCellText(s, field, text, sizeof text) == 0 ? text : "(none)";
    }
};

// The request goes out as TpPackMesg writes it; two replies sent back to
// back, the first in three pieces, are taken one per receive.
TEST_F(DialectExchangeTest, EachPresetExchangesFrameByFrame)
{
    for (const char *wire : kPresets) {
        auto client = Session(wire, "client.ini");
        auto host = Session(wire, "host.ini");
        ASSERT_NE(client, nullptr) << wire << LastErr();
        ASSERT_NE(host, nullptr) << wire;
        const std::string request = Pack(client.get(), "0200", nullptr);
        ASSERT_FALSE(request.empty()) << wire << Error(client.get());
        ASSERT_EQ(TpUnpackMesg(host.get(), reinterpret_cast<const unsigned char *>(request.data()),
                               static_cast<int>(request.size())),
                  0)
            << wire << Error(host.get());
        const std::string approved = Pack(host.get(), "0210", "00");
        const std::string declined = Pack(host.get(), "0210", "05");
        const size_t third = approved.size() / 3;
        ScriptedPeer peer({Read(static_cast<int>(request.size())), Send(approved.substr(0, third)), Pause(30),
                           Send(approved.substr(third, third)), Pause(30), Send(approved.substr(2 * third) + declined),
                           ReadToEnd()});
        Pack(client.get(), "0200", nullptr);
        const int sock = TpSockConnect(client.get(), "127.0.0.1", peer.port());
        ASSERT_GE(sock, 0) << wire;
        ASSERT_EQ(TpSockSendMesg(client.get(), sock, kKey), 0) << wire << Error(client.get());
        ASSERT_EQ(TpSockRecvMesg(client.get(), sock), 0) << wire << Error(client.get());
        EXPECT_EQ(TpCheckMesgMac(client.get(), kKey), 0) << wire << Error(client.get());
        EXPECT_EQ(Text(client.get(), 39), "00") << wire;
        ASSERT_EQ(TpSockRecvMesg(client.get(), sock), 0) << wire << Error(client.get());
        EXPECT_EQ(Text(client.get(), 39), "05") << wire;
        EXPECT_EQ(Text(client.get(), 2), "4111111111111") << wire;
        TpSockClose(client.get(), sock);
        peer.Wait();
        EXPECT_EQ(Hex(peer.Received().data(), peer.Received().size()), Hex(request.data(), request.size())) << wire;
    }
}

// A peer that stops in the middle of a frame, and one whose length cannot
// be read, are failures with their line.
TEST_F(DialectExchangeTest, BrokenFramesOnTheSocket)
{
    auto s = Session("LENGTH=BINARY2\nENVELOPE=NONE\n", "client.ini");
    ASSERT_NE(s, nullptr);
    const std::string reply = Pack(s.get(), "0210", "00");
    const struct {
        const char *name;
        std::string bytes;
        const char *error;
    } cases[] = {
        {"the peer closes within the length", reply.substr(0, 1), "tranpak: read mesg_head rc = 1"},
        {"the peer closes within the body", reply.substr(0, 10), "tranpak: read mesg buf rc = 8"},
        {"a length below the smallest body", std::string("\x00\x04", 2) + "0210", "tranpak: Packet.len = 4, too short"},
        {"a length above the largest body", std::string("\x7F\xFF", 2), "tranpak: Packet.len = 32767, too long"},
    };
    for (const auto &c : cases) {
        ScriptedPeer peer({Send(c.bytes), Close()});
        const int sock = TpSockConnect(s.get(), "127.0.0.1", peer.port());
        ASSERT_GE(sock, 0) << c.name;
        EXPECT_EQ(TpSockRecvMesg(s.get(), sock), -1) << c.name;
        EXPECT_EQ(Error(s.get()), c.error) << c.name;
        TpSockClose(s.get(), sock);
    }
}

TEST_F(DialectExchangeTest, NoLengthCannotBeReadFromASocket)
{
    auto s = Session("LENGTH=NONE\nENVELOPE=NONE\n", "client.ini");
    ASSERT_NE(s, nullptr);
    ScriptedPeer peer({Send("0210"), Close()});
    const int sock = TpSockConnect(s.get(), "127.0.0.1", peer.port());
    ASSERT_GE(sock, 0);
    EXPECT_EQ(TpSockRecvMesg(s.get(), sock), -1);
    EXPECT_EQ(Error(s.get()), "tranpak: [Wire Format] LENGTH=NONE frames cannot be read from a socket");
    TpSockClose(s.get(), sock);
}

}  // namespace
}  // namespace tranpak::test
