// Peers that do not play by the rules: every case ends in a refusal with
// its log line, never a crash, a hang or a stray write.
#include "api/session.h"
#include "message/mesg_state.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <regex>

namespace tranpak::test {
namespace {

class HostileTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    }
};

TEST_F(HostileTest, ResetInTheMiddleOfAFrame)
{
    ScriptedPeer peer({Send("\x02"
                            "0048"
                            "0200"
                            "\x70"),
                       Pause(50), Abort()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    EXPECT_EQ(SockRecvMesg(sock, 0), -1);
    EXPECT_TRUE(std::regex_match(LastErr(), std::regex("tranpak: read mesg(_head| buf) rc = -?[0-9]+"))) << LastErr();
    EXPECT_EQ(DefaultMesg().cells[1].used, 0);
    ::SockClose(sock);
}

TEST_F(HostileTest, ReceiveReadsOnlyWhatTheFrameSays)
{
    // A peer that goes on sending after a valid frame and never closes:
    // the call returns after len + 6 bytes.
    const std::string frame =
        "\x02"
        "0020"
        "0810" +
        Unhex("0000000000000001") + std::string(8, 'M') + "\x03";
    ScriptedPeer peer({Send(frame + std::string(5000, 'z')), Pause(500), Close()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    EXPECT_EQ(SockRecvMesg(sock, 0), 0) << LastErr();
    EXPECT_EQ(DefaultMesg().packet.len, 20);
    // The rest is left on the connection: it is not a frame.
    EXPECT_EQ(SockRecvMesg(sock, 0), -1);
    EXPECT_EQ(LastErr(), "tranpak: Packet.start = 0x7A");
    ::SockClose(sock);
}

TEST_F(HostileTest, ResetWhileAFileArrives)
{
    ScriptedPeer host({Read(9),
                       Send(FileFrame('2', "part") + "\x06"
                                                     "20100"
                                                     "abc"),
                       Pause(50), Abort()});
    EXPECT_EQ(::SockRecvBinFile("127.0.0.1", host.port(), "req", "out.dat"), -1);
    EXPECT_TRUE(std::regex_match(LastErr(), std::regex("tranpak: recv file_mesg_(head|buf) rc:-?[0-9]+(, len:100)?")))
        << LastErr();
}

TEST_F(HostileTest, DiskThatRefusesTheWrite)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    ScriptedPeer host({Read(9), Send(FileFrame('2', "data") + FileFrame('4', "")), Close()});
    EXPECT_EQ(::SockRecvBinFile("127.0.0.1", host.port(), "req", "/dev/full"), -1);
    EXPECT_EQ(LastErr(), "tranpak: fwrite No space left on device");
}

TEST_F(HostileTest, ControlBytesFromThePeerCannotForgeLogLines)
{
    ScriptedPeer host({Read(9),
                       Send("\n"
                            "2"
                            "0000"),
                       Close()});
    EXPECT_EQ(::SockRecvBinFile("127.0.0.1", host.port(), "req", "out.dat"), -1);
    EXPECT_EQ(ErrLog(), std::vector<std::string>{"tranpak: recv stx:\\x0A"});
}

TEST_F(HostileTest, HostileFieldTextIsEscapedInTheLog)
{
    // A fixed N field (field 3) carrying a line feed and a fake stamp.
    std::string data = "\n[2026" + std::string(8, 'M');
    std::string frame =
        "\x02"
        "0026"
        "0210" +
        Unhex("2000000000000001") + data + "\x03";
    ScriptedPeer peer({Send(frame), Close()});
    int sock = ::SockConnect("127.0.0.1", peer.port());
    EXPECT_EQ(SockRecvMesg(sock, 0), -1);
    ::SockClose(sock);
    EXPECT_EQ(ErrLog(), std::vector<std::string>{"tranpak: BMPCell[2].buf: \\x0A[2026 not number(N)"});
}

}  // namespace
}  // namespace tranpak::test
