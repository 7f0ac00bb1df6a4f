// GetLastErrMesg: the category and text of the first failure of the most
// recent call, one real failure of each category.
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "os_programs.h"
#include "tranpak.h"

#include <cstring>
#include <functional>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

// A frame that carries only field 64, eight zero bytes: no real MAC.
const std::string kZeroMacFrame =
    "\x02"
    "0020"
    "0810" +
    Unhex("0000000000000001") + std::string(8, '\0') + "\x03";

int ReceiveFrom(const std::vector<PeerStep> &script)
{
    ScriptedPeer peer(script);
    int sock = SockConnect("127.0.0.1", peer.port());
    int rc = SockRecvMesg(sock, 0);
    os::SockCloseHandle(sock);  // not SockClose: that would be the last call
    return rc;
}

struct FailureCase {
    const char *name;
    std::function<void()> failingCall;  // its last exported call fails
    int category;
    const char *text;
};

using LastErrorTest = ScratchTest;

TEST_F(LastErrorTest, EachCategoryFromARealFailure)
{
    const FailureCase cases[] = {
        {"definition file", [] { InitWith("X ANSB 10 5\n"); }, TRANPAK_ERR_SETTINGS,
         "tranpak: celltype define error (type:ANSB)"},
        {"field number", [] { SetCell(65, "x"); }, TRANPAK_ERR_ARGUMENT, "tranpak: SetField(F)_i = 65 "},
        {"nobody listening", [] { SockConnect("127.0.0.1", ClosedPort()); }, TRANPAK_ERR_CONNECT,
         "tranpak: connect error"},
        {"peer closes mid-header",
         [] {
             ReceiveFrom({Send("\x02"
                               "00"),
                          Close()});
         },
         TRANPAK_ERR_PEER_CLOSED, "tranpak: read mesg_head rc = 3"},
        {"bad start byte",
         [] {
             ReceiveFrom({Send("\x82"
                               "0048"),
                          Close()});
         },
         TRANPAK_ERR_MALFORMED, "tranpak: Packet.start = 0x82"},
        {"wrong MAC",
         [] {
             ReceiveFrom({Send(kZeroMacFrame), Close()}), CheckMesgMac(kKey);
         },
         TRANPAK_ERR_MAC, "tranpak: mac check error"},
        {"missing local file", [] { SockSendFile("127.0.0.1", 1, "missing.dat", "req"); }, TRANPAK_ERR_LOCAL_FILE,
         "tranpak: open missing.dat error"},
        {"host refuses a fetch",
         [] {
             ScriptedPeer host({Read(9), Send(FileFrame('3', "no")), Close()});
             SockRecvBinFile("127.0.0.1", host.port(), "req", "fetched.dat");
         },
         TRANPAK_ERR_HOST_REFUSED, "tranpak: receive rest_msg"},
        {"host refuses a store",
         [] {
             WriteFile("local.dat", "abc");
             ScriptedPeer host({Read(9 + 9 + 6), Send(FileFrame('3', "")), Close()});
             SockSendBinFile("127.0.0.1", host.port(), "local.dat", "req");
         },
         TRANPAK_ERR_HOST_REFUSED, "tranpak: stop_msg error mesg_type 3"},
    };
    for (const FailureCase &c : cases) {
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
        c.failingCall();
        char text[300];
        EXPECT_EQ(GetLastErrMesg(text, sizeof text), c.category) << c.name;
        EXPECT_STREQ(text, c.text) << c.name;
    }
}

TEST_F(LastErrorTest, ACallWithoutFailureClearsItAndTextIsCutToFit)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    SetCell(0, "12345");
    char text[8];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(GetLastErrMesg(text, 8), TRANPAK_ERR_ARGUMENT);
    EXPECT_STREQ(text, "tranpak");
    EXPECT_EQ(GetLastErrMesg(nullptr, 8), TRANPAK_ERR_ARGUMENT);
    EXPECT_EQ(GetLastErrMesg(text, 0), TRANPAK_ERR_ARGUMENT);
    EXPECT_STREQ(text, "tranpak");  // nothing copied
    // Only the first failure of a call counts: the fetch below logs a
    // connect error and then a failed request frame.
    SockRecvFile("127.0.0.1", 0, "req", "fetched.dat");
    char full[300];
    EXPECT_EQ(GetLastErrMesg(full, sizeof full), TRANPAK_ERR_CONNECT);
    EXPECT_STREQ(full, "tranpak: connect error");
    EXPECT_EQ(ResetMesg(), 0);
    EXPECT_EQ(GetLastErrMesg(full, sizeof full), TRANPAK_ERR_NONE);
    EXPECT_STREQ(full, "");
}

}  // namespace
}  // namespace tranpak::test
