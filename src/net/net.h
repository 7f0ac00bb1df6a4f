// Connections and the two transfer loops shared by the message exchange
// and the file transfer.
#ifndef TRANPAK_NET_NET_H
#define TRANPAK_NET_NET_H

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
// bytes cannot stretch it. 0 seconds is no limit.
struct FrameDeadline {
    FrameDeadline(int limitSeconds, const char *direction);
    int seconds;
    uint32_t start;         // tick when the frame began
    const char *direction;  // "send" or "recv", for the log line
};

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
