// Connections and the two transfer loops shared by the message exchange
// and the file transfer.
#ifndef TRANPAK_CHANNEL_NET_H
#define TRANPAK_CHANNEL_NET_H

#include "message/mesg_state.h"
#include "diag/errlog.h"

#include <cstdint>

namespace tranpak {

// The host text is copied into a buffer of 32 bytes: at most 31 characters.
inline constexpr int kHostBufSize = 32;

// 1 when the text is four dot-separated parts that each pass IsNumberText
// and convert to 0..255, else 0. Empty parts and signs pass, as they do
// in the number test.
int IsDottedQuad(const char *host);

// The time limit of one whole frame, from [Com Timeout]: every send or
// receive call of the frame counts against it, so a peer that trickles
// bytes cannot stretch it. 0 seconds is no limit. A frame of a file
// transfer also counts against the transfer's own limit, `outer`, which
// runs from the start of the call.
// A limit that passes is logged to `log`.
struct FrameDeadline {
    FrameDeadline(const ErrSink &log, int limitSeconds, const char *direction, const FrameDeadline *outer = nullptr);
    ErrSink log;
    int seconds;
    uint32_t start;              // tick when the frame began
    const char *direction;       // "send", "recv" or "transfer", for the log line
    const FrameDeadline *outer;  // a bound that holds besides this one, or nullptr

    // True when this limit or an outer one is set.
    bool Bounded() const;
    // Milliseconds left before the nearest bound passes (0 or less when
    // one has); *passing receives that bound. Only for a Bounded() deadline.
    int MillisLeft(const FrameDeadline **passing) const;
};

// Logs "tranpak: %s time limit of %d s passed" for the bound that passed
// (the one MillisLeft named), to `log`.
void WriteLimitPassed(const ErrSink &log, const FrameDeadline &passing);

// Connects to the host as SockConnect does, with the [Com Timeout]
// connection limit `limitSeconds`; a transfer's deadline, when given,
// bounds the attempt too. Returns the socket or -1, after the messages.
int ConnectHost(const ErrSink &log, const char *host, int port, int limitSeconds, const FrameDeadline *transfer);

// SockConnect and SockClose, logging to the message state's error record.
int SockConnect(MesgState &m, const char *host, int port);
int SockClose(MesgState &m, int sock);

// Sends count bytes. Returns the number sent (fewer when the socket
// stopped taking them, or when the deadline passed) or -1 on a socket
// error; 0 for a count of 0. A deadline that passes is logged as
// "tranpak: send time limit of %d s passed".
int SendAll(int sock, const void *bytes, int count, const FrameDeadline *deadline = nullptr);
// Receives until count bytes have arrived. Returns the number received
// (fewer when the peer closed, or when the deadline passed) or -1 on a
// socket error. A deadline that passes is logged as
// "tranpak: recv time limit of %d s passed".
int RecvAll(int sock, void *bytes, int count, const FrameDeadline *deadline = nullptr);

}  // namespace tranpak

#endif
