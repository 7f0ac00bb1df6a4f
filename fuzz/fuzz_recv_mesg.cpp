// SockRecvMesg and CheckMesgMac on whatever bytes a peer writes into a
// connected loopback socket before closing it.
#include "api/session.h"
#include "message/mesg_state.h"
#include "fuzz_support.h"
#include "channel/net.h"
#include "os_programs.h"
#include "support/peer.h"
#include "tranpak.h"

using namespace tranpak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (fuzz::InitWithDefinitions(fuzz::kEveryTypeDefinitions), true);
    static test::ScriptedPeer link({}, test::AcceptNobody());
    (void)ready;
    if (size > 65536)
        return 0;
    // The whole input is in the socket, and the peer's end closed, before
    // the first receive: each input runs the same way every time.
    int client = -1, peer = -1;
    fuzz::Require(link.Pair(&client, &peer), "loopback connection");
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
