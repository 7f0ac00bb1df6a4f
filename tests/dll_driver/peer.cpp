// The driver's loopback peer (peer.h) on the test peer: each step is a
// script of one connection, and what the test peer kept is copied into the
// driver's fixed buffers.
#include "peer.h"

#include "support/peer.h"

#include <cstring>
#include <string>
#include <vector>

namespace tp = tranpak::test;

namespace {

tp::ScriptedPeer *Playing(struct Peer *peer) { return static_cast<tp::ScriptedPeer *>(peer->playing); }

std::vector<tp::PeerStep> ScriptOf(const struct Peer *peer)
{
    switch (peer->step) {
    case PEER_CAPTURE:
        return {tp::ReadFrame()};
    case PEER_EXCHANGE:
        return {tp::Echo(1, std::string(peer->reply, static_cast<size_t>(peer->reply_len)))};
    case PEER_STORE_FILE:
        return {tp::Store()};
    case PEER_SERVE_FILE:
        return {tp::Serve(std::string(peer->data, static_cast<size_t>(peer->data_len)))};
    }
    return {};
}

// Copies bytes into a buffer of room bytes; false when they do not fit.
bool Keep(const std::string &bytes, char *to, int room, int *count)
{
    if (static_cast<int>(bytes.size()) > room)
        return false;
    std::memcpy(to, bytes.data(), bytes.size());
    *count = static_cast<int>(bytes.size());
    return true;
}

// What the step kept, into the driver's buffers.
bool KeepRecords(struct Peer *peer, tp::ScriptedPeer *p)
{
    int n = 0;
    switch (peer->step) {
    case PEER_CAPTURE:
        return Keep(p->LastFrame(), peer->reply, PEER_BUF, &peer->reply_len);
    case PEER_EXCHANGE:
        return Keep(p->LastFrame(), peer->frame, PEER_BUF, &peer->frame_len);
    case PEER_STORE_FILE:
        if (!Keep(p->Stored(), peer->data, PEER_BUF, &peer->data_len))
            return false;
        [[fallthrough]];
    case PEER_SERVE_FILE:
        if (!Keep(p->FileRequest(), peer->request, static_cast<int>(sizeof peer->request) - 1, &n))
            return false;
        peer->request[n] = '\0';
        return true;
    }
    return false;
}

}  // namespace

int PeerOpen(struct Peer *peer)
{
    peer->playing = nullptr;
    return 0;
}

void PeerStart(struct Peer *peer, enum PeerStep step)
{
    peer->step = step;
    peer->ok = 0;
    peer->playing = new tp::ScriptedPeer(ScriptOf(peer));
    peer->port = Playing(peer)->port();
}

int PeerWait(struct Peer *peer)
{
    tp::ScriptedPeer *p = Playing(peer);
    if (p == nullptr)
        return 0;
    peer->ok = p->Played() && KeepRecords(peer, p);
    delete p;
    peer->playing = nullptr;
    return peer->ok;
}

void PeerClose(struct Peer *peer)
{
    delete Playing(peer);
    peer->playing = nullptr;
}
