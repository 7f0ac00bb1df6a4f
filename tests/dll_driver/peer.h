/*
 * The driver's loopback peer: a listening socket on 127.0.0.1 and, for each
 * step, one thread that accepts one connection and plays the host's side of
 * it. Every wait is bounded, so a broken DLL fails the driver, not hangs it.
 * The peer is C++ (peer.cpp, with the kit's wire module); this interface
 * is C, for the driver.
 */
#ifndef TRANPAK_DLL_DRIVER_PEER_H
#define TRANPAK_DLL_DRIVER_PEER_H

#include <winsock2.h>
#include <windows.h>

enum PeerStep {
    PEER_CAPTURE,    /* read one message frame and keep it as the reply */
    PEER_EXCHANGE,   /* read one message frame, answer with the kept reply */
    PEER_STORE_FILE, /* read a file send: request, data frames, end; answer the end */
    PEER_SERVE_FILE  /* read a fetch request, send the data in frames and the end */
};

enum { PEER_BUF = 8192 };

struct Peer {
    SOCKET listener;
    int port;
    HANDLE thread;
    enum PeerStep step;
    int ok;                     /* the last step went through as expected */
    char frame[PEER_BUF];       /* the last message frame read */
    int frame_len;
    char reply[PEER_BUF];       /* the frame PEER_EXCHANGE answers with */
    int reply_len;
    char request[1100];         /* the last file request text */
    char data[PEER_BUF];        /* bytes stored by a send, or to serve on a fetch */
    int data_len;
};

#ifdef __cplusplus
extern "C" {
#endif
int PeerOpen(struct Peer *peer);
void PeerStart(struct Peer *peer, enum PeerStep step);
int PeerWait(struct Peer *peer); /* the step's ok, 0 when it did not end in time */
void PeerClose(struct Peer *peer);
#ifdef __cplusplus
}
#endif

#endif
