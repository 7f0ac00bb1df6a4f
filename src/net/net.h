// Connections and the two transfer loops shared by the message exchange
// and the file transfer.
#ifndef TRANPAK_NET_NET_H
#define TRANPAK_NET_NET_H

namespace tranpak {

// The host text is copied into a buffer of 32 bytes: at most 31 characters.
inline constexpr int kHostBufSize = 32;

// 1 when the text is four dot-separated parts that each pass IsNumberText
// and convert to 0..255, else 0. Empty parts and signs pass, as they do
// in the number test.
int IsDottedQuad(const char *host);

// Sends count bytes. Returns the number sent (fewer when the socket
// stopped taking them) or -1 on a socket error; 0 for a count of 0.
int SendAll(int sock, const void *bytes, int count);
// Receives until count bytes have arrived. Returns the number received
// (fewer when the peer closed) or -1 on a socket error.
int RecvAll(int sock, void *bytes, int count);

}  // namespace tranpak

#endif
