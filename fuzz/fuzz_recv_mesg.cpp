// SockRecvMesg and CheckMesgMac on whatever bytes a peer writes into a
// connected loopback socket before closing it.
#include "api/session.h"
#include "core/mesg_state.h"
#include "fuzz_support.h"
#include "net/net.h"
#include "os_programs.h"
#include "tranpak.h"

using namespace tranpak;

namespace {

int g_listener = -1;

void Setup()
{
    fuzz::InitWithDefinitions(fuzz::kEveryTypeDefinitions);
    g_listener = os::SockListen("127.0.0.1", 0);
    fuzz::Require(g_listener >= 0, "listener");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (Setup(), true);
    (void)ready;
    if (size > 65536)
        return 0;
    int client = os::SockOpenTcp();
    const unsigned char loopback[4] = {127, 0, 0, 1};
    fuzz::Require(os::SockConnectIPv4(client, loopback, os::SockLocalPort(g_listener)) == 0, "connect");
    int peer = os::SockAccept(g_listener);
    SendAll(peer, data, static_cast<int>(size));
    os::SockCloseHandle(peer);

    static const unsigned char key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    // Packets may follow each other; read until one fails.
    for (int k = 0; k < 4 && SockRecvMesg(client, 0) == 0; ++k) {
        CheckMesgMac(key);
        fuzz::Require(DefaultMesg().packet.len >= 20 && DefaultMesg().packet.len <= 2047, "accepted len in range");
    }
    SockClose(client);
    return 0;
}
