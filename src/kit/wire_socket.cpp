// Reading one frame from a socket, within a time limit, taking no byte
// past its end. Before the length digits have come a receive asks for the
// smallest frame of the kind (26 bytes for a Packet), so a Packet that has
// arrived whole usually takes two receives: 26 bytes, then the rest.
#include "kit/wire_socket.h"

#include "os/os.h"

#include <cstdint>

namespace tranpak::wire {

SocketRead ReadFrame(int sock, Kind kind, unsigned char *buf, int room, int millis)
{
    FrameReader reader(kind, buf, room);
    const uint32_t start = millis > 0 ? os::TickMillis() : 0;
    for (;;) {
        const Scan scan = reader.Result();
        if (scan.status != Status::kNeedMore)
            return SocketRead{scan.status == Status::kComplete ? End::kFrame : End::kBad, scan, reader.Held()};
        if (millis > 0) {
            const int left = millis - static_cast<int>(os::TickMillis() - start);
            if (left <= 0)
                return SocketRead{End::kTimedOut, scan, reader.Held()};
            const int ready = os::WaitSocket(sock, false, left);
            if (ready < 0)
                return SocketRead{End::kFailed, scan, reader.Held()};
            if (ready == 0)
                continue;
        }
        const int n = os::SockRecvSome(sock, reader.Tail(), reader.Wanted());
        if (n <= 0)
            return SocketRead{n == 0 ? End::kClosed : End::kFailed, scan, reader.Held()};
        reader.Took(n);
    }
}

}  // namespace tranpak::wire
