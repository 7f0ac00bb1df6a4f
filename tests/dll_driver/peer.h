/*
 * The driver's loopback peer: for each step, the test peer
 * (tests/support/peer.h) on a port of its own, playing the host's side of
 * one connection. Every wait is bounded, so a broken DLL fails the driver,
 * not hangs it. This interface is C, for the driver; peer.cpp puts it on
 * the test peer.
 */
#ifndef TRANPAK_DLL_DRIVER_PEER_H
#define TRANPAK_DLL_DRIVER_PEER_H

enum PeerStep {
    PEER_CAPTURE,    /* read one message frame and keep it as the reply */
    PEER_EXCHANGE,   /* read one message frame, answer with the kept reply */
    PEER_STORE_FILE, /* read a file send: request, data frames, end; answer the end */
    PEER_SERVE_FILE  /* read a fetch request, send the data in frames and the end */
};

enum { PEER_BUF = 8192 };

struct Peer {
    void *playing; /* the test peer of the step under way */
    int port;
    enum PeerStep step;
    int ok;               /* the last step went through as expected */
    char frame[PEER_BUF]; /* the last message frame read */
    int frame_len;
    char reply[PEER_BUF]; /* the frame PEER_EXCHANGE answers with */
    int reply_len;
    char request[1100];  /* the last file request text */
    char data[PEER_BUF]; /* bytes stored by a send, or to serve on a fetch */
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
