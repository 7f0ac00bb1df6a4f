// Sending and receiving one Packet on a connection.
#ifndef TRANPAK_CHANNEL_MESG_EXCHANGE_H
#define TRANPAK_CHANNEL_MESG_EXCHANGE_H

#include "crypto/des.h"
#include "message/mesg_state.h"

namespace tranpak {

// SockSendMesg and SockRecvMesg on one message state; a send's MAC keeps
// its DES round keys in des.
int SockSendMesg(MesgState &m, DesContext &des, int sock, const void *key);
int SockRecvMesg(MesgState &m, int sock);

}  // namespace tranpak

#endif
