// Reading one frame from a socket within a time limit, for the programs
// around the library (the test peer, the tests, the benchmarks); the
// library receives its frames itself and does not carry this.
#ifndef TRANPAK_KIT_WIRE_SOCKET_H
#define TRANPAK_KIT_WIRE_SOCKET_H

#include "kit/wire.h"

namespace tranpak::wire {

// How ReadFrame ended.
enum class End : unsigned char { kFrame, kBad, kClosed, kTimedOut, kFailed };

struct SocketRead {
    End end;
    Scan scan;  // what the bytes received say
    int held;   // bytes received into the buffer
};

// Reads one frame of the kind from a connected socket into buf (room
// bytes), never taking a byte past the frame's end: every receive asks for
// at most what the frame still wants. millis bounds the whole frame from
// the call on (0 or less: no limit). kFrame: scan.size bytes in buf;
// kBad: scan.fault; kClosed: the peer closed first; kTimedOut: the time
// passed first; kFailed: a socket error.
SocketRead ReadFrame(int sock, Kind kind, unsigned char *buf, int room, int millis);

}  // namespace tranpak::wire

#endif
