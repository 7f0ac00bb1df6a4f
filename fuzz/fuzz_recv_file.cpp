// The receiving side of the file transfer on whatever bytes a host sends
// after reading the request. The first input byte picks text or binary.
#include "fuzz_support.h"
#include "support/peer.h"
#include "tranpak.h"

using namespace tranpak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (fuzz::InitWithDefinitions(""), true);
    (void)ready;
    if (size < 1 || size > 65536)
        return 0;
    // The host: reads the request frame, sends the rest of the input,
    // closes; it has ended before the next input comes.
    test::ScriptedPeer host({test::ReadFrame(true), test::Send(std::string(data + 1, data + size)), test::Close()});
    if (data[0] & 1)
        SockRecvFile("127.0.0.1", host.port(), "req", "fuzz-fetched.dat");
    else
        SockRecvBinFile("127.0.0.1", host.port(), "req", "fuzz-fetched.dat");
    host.Wait();
    return 0;
}
