// The driver's loopback peer (peer.h), in C++ so that it reads and writes
// its frames with the kit's wire module, as every other peer does; the
// driver itself stays C and reaches the DLL only through LoadLibrary.
#include "peer.h"

#include "kit/wire.h"

#include <cstring>

using namespace tranpak;

namespace {

constexpr int kWaitMillis = 10000;

bool Readable(SOCKET s)
{
    fd_set readable;
    timeval limit = {kWaitMillis / 1000, 0};
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    return select(0, &readable, nullptr, nullptr, &limit) == 1;
}

int SendAll(SOCKET s, const char *buf, int count)
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

// Reads one frame of the kind into buf (room bytes), never a byte past
// its end; its length, or -1 when it is bad, cut short or late.
int ReadFrame(SOCKET s, wire::Kind kind, unsigned char *buf, int room)
{
    wire::FrameReader reader(kind, buf, room);
    while (reader.Result().status == wire::Status::kNeedMore) {
        if (!Readable(s))
            return -1;
        int n = recv(s, reinterpret_cast<char *>(reader.Tail()), reader.Wanted(), 0);
        if (n <= 0)
            return -1;
        reader.Took(n);
    }
    return reader.Result().status == wire::Status::kComplete ? reader.Result().size : -1;
}

int ReadMesgFrame(SOCKET s, char *buf, int *count)
{
    const int n = ReadFrame(s, wire::Kind::kPacket, reinterpret_cast<unsigned char *>(buf), PEER_BUF);
    if (n < 0)
        return -1;
    *count = n;
    return 0;
}

// A file frame's type and body; the body must fit room bytes.
int ReadFileFrame(SOCKET s, char *type, char *body, int room, int *count)
{
    unsigned char frame[wire::kFileBufSize];
    const int n = ReadFrame(s, wire::Kind::kFile, frame, sizeof frame);
    if (n < 0 || n - wire::kFileHeadSize > room)
        return -1;
    *type = static_cast<char>(frame[1]);
    *count = n - wire::kFileHeadSize;
    std::memcpy(body, frame + wire::kFileHeadSize, static_cast<size_t>(*count));
    return 0;
}

int SendFileFrame(SOCKET s, char type, const char *body, int count)
{
    unsigned char frame[wire::kFileBufSize];
    wire::PutFileHead(frame, type, count);
    std::memcpy(frame + wire::kFileHeadSize, body, static_cast<size_t>(count));
    return SendAll(s, reinterpret_cast<char *>(frame), wire::kFileHeadSize + count);
}

int ReadRequest(Peer *peer, SOCKET s, char wanted)
{
    char type = 0;
    int n = 0;
    if (ReadFileFrame(s, &type, peer->request, static_cast<int>(sizeof peer->request) - 1, &n) != 0 || type != wanted)
        return -1;
    peer->request[n] = '\0';
    return 0;
}

int StoreFile(Peer *peer, SOCKET s)
{
    char type = 0, body[wire::kFileBodySize];
    int n = 0;
    if (ReadRequest(peer, s, wire::kFileSendRequest) != 0)
        return -1;
    peer->data_len = 0;
    for (;;) {
        if (ReadFileFrame(s, &type, body, static_cast<int>(sizeof body), &n) != 0)
            return -1;
        if (type == wire::kFileEnd)
            return SendFileFrame(s, wire::kFileEnd, "", 0);
        if (type != wire::kFileData || peer->data_len + n > PEER_BUF)
            return -1;
        std::memcpy(peer->data + peer->data_len, body, static_cast<size_t>(n));
        peer->data_len += n;
    }
}

int ServeFile(Peer *peer, SOCKET s)
{
    if (ReadRequest(peer, s, wire::kFileFetchRequest) != 0)
        return -1;
    for (int at = 0; at < peer->data_len; at += wire::kFileBodySize) {
        int n = peer->data_len - at < wire::kFileBodySize ? peer->data_len - at : wire::kFileBodySize;
        if (SendFileFrame(s, wire::kFileData, peer->data + at, n) != 0)
            return -1;
    }
    return SendFileFrame(s, wire::kFileEnd, "", 0);
}

int Serve(Peer *peer, SOCKET s)
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

DWORD WINAPI PeerThread(LPVOID arg)
{
    Peer *peer = static_cast<Peer *>(arg);
    if (!Readable(peer->listener))
        return 0;
    SOCKET s = accept(peer->listener, nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return 0;
    peer->ok = Serve(peer, s) == 0;
    closesocket(s);
    return 0;
}

}  // namespace

int PeerOpen(struct Peer *peer)
{
    sockaddr_in addr;
    int size = static_cast<int>(sizeof addr);
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    peer->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (peer->listener == INVALID_SOCKET || bind(peer->listener, reinterpret_cast<sockaddr *>(&addr), size) != 0 ||
        listen(peer->listener, 4) != 0 || getsockname(peer->listener, reinterpret_cast<sockaddr *>(&addr), &size) != 0)
        return -1;
    peer->port = ntohs(addr.sin_port);
    return 0;
}

void PeerStart(struct Peer *peer, enum PeerStep step)
{
    peer->step = step;
    peer->ok = 0;
    peer->thread = CreateThread(nullptr, 0, PeerThread, peer, 0, nullptr);
}

int PeerWait(struct Peer *peer)
{
    if (peer->thread == nullptr || WaitForSingleObject(peer->thread, 3 * kWaitMillis) != WAIT_OBJECT_0)
        return 0;
    CloseHandle(peer->thread);
    peer->thread = nullptr;
    return peer->ok;
}

void PeerClose(struct Peer *peer) { closesocket(peer->listener); }
