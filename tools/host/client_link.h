// One accepted connection of the host, where every frame read and every
// frame written has its own deadline, and Ctrl-C is looked at at least
// five times a second. A client that sends nothing, trickles bytes or
// stops reading is dropped when the deadline passes.
#ifndef TRANPAK_TOOLS_CLIENT_LINK_H
#define TRANPAK_TOOLS_CLIENT_LINK_H

#include <chrono>
#include <csignal>
#include <string>

namespace tranpak::tools {

enum class LinkResult { kOk, kClosed, kTimedOut, kStopped, kFailed, kMalformed };

const char *LinkResultText(LinkResult r);

class ClientLink {
public:
    ClientLink(int sock, int timeoutMillis, volatile std::sig_atomic_t *stop);

    // Reads the first byte of the next frame and the rest of it, all
    // before one deadline: a Packet (02) into the message state, a file
    // frame (06) into g_fileMesg. *first receives the first byte. A Packet
    // that breaks its framing gives kMalformed with *why.
    LinkResult ReadFrame(unsigned char *first, std::string *why);
    // Reads one file frame (06 ...) into g_fileMesg before a deadline.
    LinkResult ReadFileFrame(std::string *why);

    // Writes count bytes before a deadline of their own.
    LinkResult Write(const void *bytes, int count);
    // Writes g_fileMesg as a frame.
    LinkResult WriteFileFrame();

    // Sleeps, waking for Ctrl-C; false when it came.
    bool Pause(int millis);

private:
    using Clock = std::chrono::steady_clock;
    LinkResult ReadExactly(void *bytes, int count, Clock::time_point deadline);
    LinkResult ReadPacketRest(std::string *why, Clock::time_point deadline);
    LinkResult ReadFileRest(std::string *why, Clock::time_point deadline);

    int sock_;
    std::chrono::milliseconds timeout_;
    volatile std::sig_atomic_t *stop_;
};

}  // namespace tranpak::tools

#endif
