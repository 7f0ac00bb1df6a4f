// One accepted connection of the host, where every frame read and every
// frame written has its own deadline, and Ctrl-C is looked at at least
// five times a second. A client that sends nothing, trickles bytes or
// stops reading is dropped when the deadline passes. A file transfer has
// one more deadline over all its frames, so trickling whole frames does
// not hold the connection either.
#ifndef TRANPAK_TOOLS_CLIENT_LINK_H
#define TRANPAK_TOOLS_CLIENT_LINK_H

#include "wire.h"
#include "wire_format.h"

#include <chrono>
#include <csignal>
#include <string>

namespace tranpak::tools {

enum class LinkResult { kOk, kClosed, kTimedOut, kStopped, kFailed, kMalformed, kTooLong };
// What the frame ReadFrame last read is: a message, a file frame, or
// neither (nothing came, or a first byte that starts no frame).
enum class FrameKind { kNone, kPacket, kFile };

const char *LinkResultText(LinkResult r);

class ClientLink {
public:
    // number names the connection in the host's log (0: none).
    ClientLink(int sock, int timeoutMillis, volatile std::sig_atomic_t *stop, long number = 0);

    long Number() const { return number_; }

    // From now on, file frames read and every write also end by this
    // deadline; one that passes gives kTooLong.
    void LimitTransfer(int millis);
    // Until LiftFrameLimit, every frame ReadFrame reads ends millis from
    // now at the latest, however long its own wait and timeout would run;
    // one that passes gives kTimedOut.
    void LimitFrames(int millis);
    void LiftFrameLimit() { framesLimited_ = false; }
    // Messages are read in this dialect from now on (the seed's until
    // then). File frames stay the seed's 06 frames in every dialect. Under
    // ENVELOPE=NONE, where a message's first byte is its length's, a first
    // byte 06 starts a file frame only in the connection's first frame
    // (the library opens a connection for each file transfer) and only
    // when the five bytes after it are a file frame's type '0' to '4' and
    // four digits up to 1024; any other frame is a message.
    void SpeakDialect(const wire::WireFormat &format);

    // Waits up to waitMillis (-1: the link's timeout) for the first byte
    // of the next frame, then reads the rest of it within the link's
    // timeout from that byte: a whole Packet (02) into Packet(), a file
    // frame (06) into FileType() and FileBody(). *first receives the first
    // byte, *started (when given) whether it came; Kind() what the frame
    // is. A frame that breaks its framing gives kMalformed with *why.
    LinkResult ReadFrame(unsigned char *first, std::string *why, int waitMillis = -1, bool *started = nullptr);
    // Reads one file frame (06 ...) before a deadline.
    LinkResult ReadFileFrame(std::string *why);

    FrameKind Kind() const { return kind_; }
    // The message last read, whole as it came (start and stop byte
    // included, in a dialect with them).
    const unsigned char *Packet() const { return packet_; }
    int PacketLength() const { return packetLength_; }
    // The file frame last read.
    char FileType() const { return fileType_; }
    const char *FileBody() const { return fileBody_; }
    int FileLength() const { return fileLength_; }

    // Writes count bytes before a deadline of their own.
    LinkResult Write(const void *bytes, int count);
    // Writes a file frame of the type with n body bytes (0 to 1024).
    LinkResult WriteFileFrame(char type, const void *body, int n);

    // Sleeps, waking for Ctrl-C; false when it came.
    bool Pause(int millis);
    // Reads and throws away what the client sends until it closes, millis
    // pass or Ctrl-C comes.
    void Linger(int millis);

private:
    using Clock = std::chrono::steady_clock;
    // The deadline of a frame started now, and the result of one that
    // timed out at deadline: kTooLong when that was the transfer's.
    Clock::time_point FrameDeadline() const;
    // A deadline of ReadFrame, held to the frame limit when there is one.
    Clock::time_point Capped(Clock::time_point deadline) const;
    LinkResult Overdue(LinkResult r, Clock::time_point deadline) const;
    LinkResult ReadExactly(void *bytes, int count, Clock::time_point deadline);
    LinkResult ReadPacketRest(std::string *why, Clock::time_point deadline);
    LinkResult ReadFileRest(std::string *why, Clock::time_point deadline);
    // A file frame whose six head bytes are in head.
    LinkResult ReadFileBody(const unsigned char *head, std::string *why, Clock::time_point deadline);
    // A message frame of the dialect without envelope, its first byte read.
    LinkResult ReadBareFrame(unsigned char first, bool firstOfConnection, std::string *why, Clock::time_point deadline);
    // The rest of a message of the dialect, held bytes of it in packet_.
    LinkResult ReadDialectRest(int held, std::string *why, Clock::time_point deadline);

    int sock_;
    std::chrono::milliseconds timeout_;
    volatile std::sig_atomic_t *stop_;
    long number_;
    bool limited_ = false;
    // Bytes received and not yet read: in_[inStart_, inEnd_). One receive
    // takes up to a whole Packet, so a frame that came at once costs one.
    static constexpr int kInSize = wire::kPacketBufSize;
    unsigned char in_[kInSize] = {};
    int inStart_ = 0, inEnd_ = 0;
    bool drained_ = false;  // the last receive took less than it could
    Clock::time_point transferDeadline_{};
    bool framesLimited_ = false;
    Clock::time_point framesDeadline_{};
    // Room for the longest message of any dialect.
    static constexpr int kFrameRoom =
        wire::kMaxFrameSize > wire::kPacketBufSize ? wire::kMaxFrameSize : wire::kPacketBufSize;
    unsigned char packet_[kFrameRoom] = {};
    wire::WireFormat format_{};
    bool dialect_ = false;    // format_ is not the seed's
    bool firstFrame_ = true;  // no frame of the connection read yet
    FrameKind kind_ = FrameKind::kNone;
    int packetLength_ = 0;
    char fileType_ = 0;
    char fileBody_[wire::kFileBodySize] = {};
    int fileLength_ = 0;
};

}  // namespace tranpak::tools

#endif
