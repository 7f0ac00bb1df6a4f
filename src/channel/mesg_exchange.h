// Sending and receiving one Packet, and the same codec without a socket.
#ifndef TRANPAK_NET_MESG_EXCHANGE_H
#define TRANPAK_NET_MESG_EXCHANGE_H

#include "message/mesg_state.h"
#include "session/session.h"

namespace tranpak {

// SockSendMesg and SockRecvMesg on one session.
int SockSendMesg(Session &s, int sock, const void *key);
int SockRecvMesg(Session &s, int sock);

// The frame SockSendMesg would send, into frame (size bytes of room), and
// its length into *frameLen; nothing is traced.
int PackFrame(Session &s, const void *key, unsigned char *frame, int size, int *frameLen);
// What SockRecvMesg does with a frame of frameLen bytes once read; a
// frameLen other than the frame's own is refused.
int UnpackFrame(Session &s, const unsigned char *frame, int frameLen);

}  // namespace tranpak

#endif
