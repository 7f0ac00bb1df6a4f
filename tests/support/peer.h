// The test peer: the other side of a connection on 127.0.0.1 for the
// tests, the benchmarks, the fuzz targets and the DLL driver. It listens on
// a free port, accepts the connections it is told to and plays its script
// on each: raw steps (sends, exact reads, a read to the end, closes,
// resets, pauses) and whole dialogues of a host (answer message frames,
// take a file send, serve a fetch), every frame read and written through
// the kit's wire module. Every wait is bounded, so a broken client makes a
// test fail, not hang.
#ifndef TRANPAK_TESTS_PEER_H
#define TRANPAK_TESTS_PEER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tranpak::test {

struct PeerStep {
    enum Kind { kSend, kRead, kReadToEnd, kClose, kAbort, kPause, kReadFrame, kEcho, kStore, kServe, kCall } kind;
    std::string bytes;  // kSend: the bytes; kEcho: the reply ("": each frame itself); kServe: the file's bytes
    int count = 0;      // kRead: bytes; kPause: milliseconds; kEcho: frames (0: until the client closes);
                        // kReadFrame: 1 for a file frame, 0 for a Packet
    std::function<void(int sock)> call;  // kCall
};

// Sends the bytes.
PeerStep Send(const std::string &bytes);
// Reads exactly count bytes (fewer when the client closes first).
PeerStep Read(int count);
// Reads until the client closes.
PeerStep ReadToEnd();
PeerStep Close();
PeerStep Abort();  // close with a reset
PeerStep Pause(int millis);
// Reads one whole Packet (or, fileFrame, one file frame), never a byte of
// what follows it.
PeerStep ReadFrame(bool fileFrame = false);
// Answers frames Packets, each as it comes, with reply, or with the
// Packet itself when reply is empty; frames 0: every one until the client
// closes. Only the last Packet is kept (a benchmark's echo reads millions).
PeerStep Echo(int frames = 0, const std::string &reply = "");
// Takes a file send as a host does: the request frame ('0'), the data
// frames ('2') up to the end frame ('4'), which it answers with an end
// frame; keeps the request's path and the data.
PeerStep Store();
// Answers a fetch as a host does: reads the request frame ('1'), sends
// the bytes in data frames of up to 1024 bytes and an end frame.
PeerStep Serve(const std::string &bytes);
// Hands the connection to the caller's own code (a host made with the
// library's session functions, say); the peer closes it afterwards.
PeerStep Call(std::function<void(int sock)> call);

// Connections accepted as many as come, until the peer is destroyed.
inline constexpr int kEveryConnection = -1;

struct PeerOptions {
    // Connections accepted, each playing the whole script (on a thread of
    // its own when there can be more than one); 0 accepts nobody, so that
    // connections wait in the backlog; kEveryConnection.
    int connections = 1;
    int backlog = 16;
    // The limit of each receive in milliseconds; 0: none, for a peer that
    // runs until it is killed.
    int waitMillis = 10000;
};

// A port that accepts nobody: connections wait in its backlog (the
// script is never played).
inline PeerOptions AcceptNobody(int backlog = 16)
{
    PeerOptions options;
    options.connections = 0;
    options.backlog = backlog;
    return options;
}

class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<PeerStep> script, PeerOptions options = {});
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    int port() const { return port_; }
    // Waits until every connection has played its script; connections
    // that have not come within 2 s (at once for kEveryConnection) are no
    // longer waited for.
    void Wait();
    // After Wait (each waits for it): everything the steps read, in order,
    // but for the Packets Echo answered...
    std::string Received();
    // ...the last Packet ReadFrame or Echo read...
    std::string LastFrame();
    // ...the path of the last request Store or Serve read, and the data
    // Store took...
    std::string FileRequest();
    std::string Stored();
    // ...and whether every connection the peer was told of came and played
    // its whole script, each step as it says (a Read got all its bytes, an
    // Echo as many Packets as it answers, or the client's close).
    bool Played();

    // For a peer that accepts nobody: a connection waits in the backlog...
    bool WasConnected() const;
    // ...and a connection made and accepted on the caller's own thread,
    // for code that drives the peer's end itself between its own calls:
    // the end for the code under test in *client, the peer's end in
    // *peer. False when it cannot be had.
    bool Pair(int *client, int *peer);

    struct State;

private:
    std::unique_ptr<State> state_;
    int port_ = 0;
};

// A frame of the file transfer protocol: 06, type, 4 length digits, body.
std::string FileFrame(char type, const std::string &body);

// A loopback port with nothing listening on it.
int ClosedPort();

}  // namespace tranpak::test

#endif
