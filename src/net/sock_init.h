// Start-up of the sockets layer, run once when the library is loaded.
#ifndef TRANPAK_NET_SOCK_INIT_H
#define TRANPAK_NET_SOCK_INIT_H

namespace tranpak {

// 0 when the sockets layer is ready, -1 when it cannot be started.
int SockAppInit();

}  // namespace tranpak

#endif
