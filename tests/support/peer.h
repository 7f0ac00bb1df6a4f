// A scripted peer on 127.0.0.1: it accepts one connection, then plays its
// script of sends, exact reads and closes, and records every byte it read.
// Every wait is bounded, so a broken client makes a test fail, not hang.
#ifndef TRANPAK_TESTS_PEER_H
#define TRANPAK_TESTS_PEER_H

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tranpak::test {

struct PeerStep {
    enum Kind { kSend, kRead, kReadToEnd, kClose, kAbort, kPause } kind;
    std::string bytes;  // kSend
    int count = 0;      // kRead: bytes, kPause: milliseconds
};

PeerStep Send(const std::string &bytes);
PeerStep Read(int count);
PeerStep ReadToEnd();
PeerStep Close();
PeerStep Abort();  // close with a reset
PeerStep Pause(int millis);

class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<PeerStep> script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    int port() const { return port_; }
    // Waits for the script to end; everything the peer read.
    std::string Received();

private:
    void Run();

    std::vector<PeerStep> script_;
    int listener_ = -1;
    int port_ = 0;
    std::string received_;
    std::thread thread_;
    bool joined_ = false;
    std::atomic<bool> accepted_{false};
    std::atomic<bool> abandoned_{false};
};

// A frame of the file transfer protocol: 06, type, 4 length digits, body.
std::string FileFrame(char type, const std::string &body);

}  // namespace tranpak::test

#endif
