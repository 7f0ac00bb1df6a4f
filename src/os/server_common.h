// What the programs' common logic of server sockets and the running
// program (server_common.cpp) asks of each platform's server file.
#ifndef TRANPAK_OS_SERVER_COMMON_H
#define TRANPAK_OS_SERVER_COMMON_H

namespace tranpak::os {

// The system's words for a socket error number (of LastSocketError or of
// a connect) into text, when text is given and size above 0.
void TellSocketError(int error, char *text, int size);
// Lets a listening socket take an address that a closed one still holds,
// where the system asks for that.
void ReuseAddress(int sock);
// Binds sock to addr:port and listens with that backlog: 0, or -1 with
// LastSocketError telling why.
int BindAndListen(int sock, const unsigned char addr[4], int port, int backlog);
// Writes the running program's own path into path (size bytes, above 0)
// with '/' between components: the bytes it takes without a closing NUL,
// size or more when it did not fit, 0 or less when the system does not
// tell.
int SystemProgramPath(char *path, int size);

}  // namespace tranpak::os

#endif
