#include "peer.h"

#include <stdio.h>
#include <string.h>

enum { WAIT_MS = 10000 };

static int RecvExact(SOCKET s, char *buf, int count)
{
    int got = 0;
    while (got < count) {
        fd_set readable;
        struct timeval limit = {WAIT_MS / 1000, 0};
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        if (select(0, &readable, NULL, NULL, &limit) != 1)
            return -1;
        int n = recv(s, buf + got, count - got, 0);
        if (n <= 0)
            return -1;
        got += n;
    }
    return 0;
}

static int SendAll(SOCKET s, const char *buf, int count)
{
    int sent = 0;
    while (sent < count) {
        int n = send(s, buf + sent, count - sent, 0);
        if (n <= 0)
            return -1;
        sent += n;
    }
    return 0;
}

static int Digits(const char *text, int count)
{
    int n = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

/* A message frame: 02, 4 length digits, then len bytes and the stop byte. */
static int ReadMesgFrame(SOCKET s, char *buf, int *count)
{
    if (RecvExact(s, buf, 5) != 0 || buf[0] != 0x02)
        return -1;
    int len = Digits(buf + 1, 4);
    if (len < 0 || 5 + len + 1 > PEER_BUF || RecvExact(s, buf + 5, len + 1) != 0)
        return -1;
    *count = 5 + len + 1;
    return 0;
}

/* A file frame: 06, type, 4 length digits, body. */
static int ReadFileFrame(SOCKET s, char *type, char *body, int room, int *count)
{
    char head[6];
    if (RecvExact(s, head, 6) != 0 || head[0] != 0x06)
        return -1;
    int len = Digits(head + 2, 4);
    if (len < 0 || len > room || RecvExact(s, body, len) != 0)
        return -1;
    *type = head[1];
    *count = len;
    return 0;
}

static int SendFileFrame(SOCKET s, char type, const char *body, int count)
{
    char frame[6 + 1024];
    frame[0] = 0x06;
    frame[1] = type;
    snprintf(frame + 2, 5, "%04d", count);
    memcpy(frame + 6, body, (size_t)count);
    return SendAll(s, frame, 6 + count);
}

static int ReadRequest(struct Peer *peer, SOCKET s, char wanted)
{
    char type = 0;
    int n = 0;
    if (ReadFileFrame(s, &type, peer->request, (int)sizeof peer->request - 1, &n) != 0 || type != wanted)
        return -1;
    peer->request[n] = '\0';
    return 0;
}

static int StoreFile(struct Peer *peer, SOCKET s)
{
    char type = 0, body[1024];
    int n = 0;
    if (ReadRequest(peer, s, '0') != 0)
        return -1;
    peer->data_len = 0;
    for (;;) {
        if (ReadFileFrame(s, &type, body, (int)sizeof body, &n) != 0)
            return -1;
        if (type == '4')
            return SendFileFrame(s, '4', "", 0);
        if (type != '2' || peer->data_len + n > PEER_BUF)
            return -1;
        memcpy(peer->data + peer->data_len, body, (size_t)n);
        peer->data_len += n;
    }
}

static int ServeFile(struct Peer *peer, SOCKET s)
{
    if (ReadRequest(peer, s, '1') != 0)
        return -1;
    for (int at = 0; at < peer->data_len; at += 1024) {
        int n = peer->data_len - at < 1024 ? peer->data_len - at : 1024;
        if (SendFileFrame(s, '2', peer->data + at, n) != 0)
            return -1;
    }
    return SendFileFrame(s, '4', "", 0);
}

static int Serve(struct Peer *peer, SOCKET s)
{
    switch (peer->step) {
    case PEER_CAPTURE:
        return ReadMesgFrame(s, peer->reply, &peer->reply_len);
    case PEER_EXCHANGE:
        if (ReadMesgFrame(s, peer->frame, &peer->frame_len) != 0)
            return -1;
        return SendAll(s, peer->reply, peer->reply_len);
    case PEER_STORE_FILE:
        return StoreFile(peer, s);
    case PEER_SERVE_FILE:
        return ServeFile(peer, s);
    }
    return -1;
}

static DWORD WINAPI PeerThread(LPVOID arg)
{
    struct Peer *peer = arg;
    fd_set readable;
    struct timeval limit = {WAIT_MS / 1000, 0};
    FD_ZERO(&readable);
    FD_SET(peer->listener, &readable);
    if (select(0, &readable, NULL, NULL, &limit) != 1)
        return 0;
    SOCKET s = accept(peer->listener, NULL, NULL);
    if (s == INVALID_SOCKET)
        return 0;
    peer->ok = Serve(peer, s) == 0;
    closesocket(s);
    return 0;
}

int PeerOpen(struct Peer *peer)
{
    struct sockaddr_in addr;
    int size = (int)sizeof addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    peer->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (peer->listener == INVALID_SOCKET || bind(peer->listener, (struct sockaddr *)&addr, size) != 0 ||
        listen(peer->listener, 4) != 0 || getsockname(peer->listener, (struct sockaddr *)&addr, &size) != 0)
        return -1;
    peer->port = ntohs(addr.sin_port);
    return 0;
}

void PeerStart(struct Peer *peer, enum PeerStep step)
{
    peer->step = step;
    peer->ok = 0;
    peer->thread = CreateThread(NULL, 0, PeerThread, peer, 0, NULL);
}

int PeerWait(struct Peer *peer)
{
    if (peer->thread == NULL || WaitForSingleObject(peer->thread, 3 * WAIT_MS) != WAIT_OBJECT_0)
        return 0;
    CloseHandle(peer->thread);
    peer->thread = NULL;
    return peer->ok;
}

void PeerClose(struct Peer *peer) { closesocket(peer->listener); }
