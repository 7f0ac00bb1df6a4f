#include "support/peer.h"

#include "kit/wire_socket.h"
#include "os_programs.h"

#include <atomic>
#include <cstring>

namespace tranpak::test {
namespace {

// How long Wait gives a client that has not connected yet.
constexpr int kConnectGraceMillis = 2000;
constexpr int kGraceStepMillis = 10;
// A raw read step's receive size.
constexpr int kReadChunk = 4096;

bool SendBytes(int sock, const void *bytes, int count)
{
    const char *at = static_cast<const char *>(bytes);
    for (int sent = 0; sent < count;) {
        const int n = os::SockSendSome(sock, at + sent, count - sent);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

bool SendFileFrame(int sock, char type, const char *body, int count)
{
    unsigned char frame[wire::kFileBufSize];
    wire::PutFileHead(frame, type, count);
    std::memcpy(frame + wire::kFileHeadSize, body, static_cast<size_t>(count));
    return SendBytes(sock, frame, wire::kFileHeadSize + count);
}

struct Record {
    std::string received, lastFrame, request, stored;
    bool filed = false;  // a Store or Serve read a request
    bool played = true;
};

// One connection's script, played on its socket.
class Player {
public:
    explicit Player(int sock) : sock_(sock) {}

    void Play(const std::vector<PeerStep> &script)
    {
        for (const PeerStep &step : script) {
            if (!open_)
                break;
            if (!Step(step))
                record_.played = false;
        }
        if (open_)
            os::SockCloseHandle(sock_);
    }
    const Record &Done() const { return record_; }

private:
    bool Step(const PeerStep &step)
    {
        switch (step.kind) {
        case PeerStep::kSend:
            return SendBytes(sock_, step.bytes.data(), static_cast<int>(step.bytes.size()));
        case PeerStep::kRead:
        case PeerStep::kReadToEnd:
            return ReadRaw(step.kind == PeerStep::kReadToEnd, step.count);
        case PeerStep::kClose:
            os::SockCloseHandle(sock_);
            open_ = false;
            return true;
        case PeerStep::kAbort:
            os::SockAbort(sock_);
            open_ = false;
            return true;
        case PeerStep::kPause:
            os::SleepMillis(step.count);
            return true;
        case PeerStep::kReadFrame: {
            const wire::Kind kind = step.count == 1 ? wire::Kind::kFile : wire::Kind::kPacket;
            const int n = ReadOne(kind);
            if (n > 0 && kind == wire::Kind::kPacket)
                record_.lastFrame.assign(reinterpret_cast<char *>(frame_), static_cast<size_t>(n));
            return n > 0;
        }
        case PeerStep::kEcho:
            return Echo(step.count, step.bytes);
        case PeerStep::kStore:
            return Store();
        case PeerStep::kServe:
            return Serve(step.bytes);
        case PeerStep::kCall:
            step.call(sock_);
            return true;
        }
        return false;
    }

    // Up to count bytes, or to the client's close; true when all came.
    bool ReadRaw(bool toEnd, int count)
    {
        char buf[kReadChunk];
        for (int left = count; toEnd || left > 0;) {
            const int want = toEnd || left > kReadChunk ? kReadChunk : left;
            const int n = os::SockRecvSome(sock_, buf, want);
            if (n <= 0)
                return toEnd && n == 0;  // closed, failed or timed out
            record_.received.append(buf, static_cast<size_t>(n));
            left -= n;
        }
        return true;
    }

    // One frame of the kind into frame_, its bytes recorded; its length,
    // or 0 when it is bad, cut short or late.
    int ReadOne(wire::Kind kind)
    {
        const wire::SocketRead r = wire::ReadFrame(sock_, kind, frame_, sizeof frame_, 0);
        record_.received.append(reinterpret_cast<char *>(frame_), static_cast<size_t>(r.held));
        return r.end == wire::End::kFrame ? r.scan.size : 0;
    }

    // A file frame of the type; its body in *body.
    bool ReadFileFrame(char type, std::string *body)
    {
        const int n = ReadOne(wire::Kind::kFile);
        if (n == 0 || static_cast<char>(frame_[1]) != type)
            return false;
        body->assign(reinterpret_cast<char *>(frame_) + wire::kFileHeadSize,
                     static_cast<size_t>(n - wire::kFileHeadSize));
        return true;
    }

    bool Echo(int frames, const std::string &reply)
    {
        unsigned char packet[wire::kPacketBufSize];
        int size = 0;
        bool played = true;
        for (int answered = 0; frames == 0 || answered < frames; ++answered) {
            const wire::SocketRead r = wire::ReadFrame(sock_, wire::Kind::kPacket, packet, sizeof packet, 0);
            if (r.end != wire::End::kFrame) {
                played = frames == 0 && r.end == wire::End::kClosed && r.held == 0;
                break;
            }
            size = r.scan.size;
            const bool sent = reply.empty() ? SendBytes(sock_, packet, size)
                                            : SendBytes(sock_, reply.data(), static_cast<int>(reply.size()));
            if (!sent) {
                played = false;
                break;
            }
        }
        if (size > 0)
            record_.lastFrame.assign(reinterpret_cast<char *>(packet), static_cast<size_t>(size));
        return played;
    }

    bool Store()
    {
        record_.filed = true;
        if (!ReadFileFrame(wire::kFileSendRequest, &record_.request))
            return false;
        for (;;) {
            const int n = ReadOne(wire::Kind::kFile);
            if (n == 0)
                return false;
            if (static_cast<char>(frame_[1]) == wire::kFileEnd)
                return SendFileFrame(sock_, wire::kFileEnd, "", 0);
            if (static_cast<char>(frame_[1]) != wire::kFileData)
                return false;
            record_.stored.append(reinterpret_cast<char *>(frame_) + wire::kFileHeadSize,
                                  static_cast<size_t>(n - wire::kFileHeadSize));
        }
    }

    bool Serve(const std::string &bytes)
    {
        record_.filed = true;
        if (!ReadFileFrame(wire::kFileFetchRequest, &record_.request))
            return false;
        const int size = static_cast<int>(bytes.size());
        for (int at = 0; at < size; at += wire::kFileBodySize) {
            const int n = size - at < wire::kFileBodySize ? size - at : wire::kFileBodySize;
            if (!SendFileFrame(sock_, wire::kFileData, bytes.data() + at, n))
                return false;
        }
        return SendFileFrame(sock_, wire::kFileEnd, "", 0);
    }

    int sock_;
    bool open_ = true;
    Record record_;
    unsigned char frame_[wire::kAnyBufSize];
};

}  // namespace

struct ScriptedPeer::State {
    std::vector<PeerStep> script;
    PeerOptions options;
    int listener = -1;
    os::Thread acceptor;
    // A connection's thread and what it plays on, kept until it is joined.
    struct Playing {
        State *state = nullptr;
        int sock = -1;
        os::Thread thread;
    };
    std::vector<std::unique_ptr<Playing>> players;
    os::Mutex lock;
    Record record;  // under lock
    int plays = 0;  // connections that played their script; under lock
    bool waited = false;
    std::atomic<int> accepted{0};
    std::atomic<bool> stopping{false};

    void Play(int sock)
    {
        if (options.waitMillis > 0)
            os::SockSetRecvTimeout(sock, options.waitMillis);
        Player player(sock);
        player.Play(script);
        const Record &mine = player.Done();
        os::LockGuard hold(lock);
        record.received += mine.received;
        if (!mine.lastFrame.empty())
            record.lastFrame = mine.lastFrame;
        if (mine.filed) {
            record.request = mine.request;
            record.stored = mine.stored;
        }
        record.played = record.played && mine.played;
        ++plays;
    }

    void Accept()
    {
        const bool alone = options.connections == 1;
        for (int k = 0; options.connections == kEveryConnection || k < options.connections; ++k) {
            const int sock = os::SockAccept(listener);
            ++accepted;
            if (sock < 0 || stopping) {
                if (sock >= 0)
                    os::SockCloseHandle(sock);  // the wake of Wait
                return;
            }
            if (alone) {
                Play(sock);
                continue;
            }
            players.push_back(std::make_unique<Playing>());
            Playing &p = *players.back();
            p.state = this;
            p.sock = sock;
            auto play = [](void *arg) {
                auto *p = static_cast<Playing *>(arg);
                p->state->Play(p->sock);
            };
            if (!p.thread.Start(play, &p))
                Play(sock);
        }
    }
};

PeerStep Send(const std::string &bytes) { return {PeerStep::kSend, bytes, 0, {}}; }
PeerStep Read(int count) { return {PeerStep::kRead, "", count, {}}; }
PeerStep ReadToEnd() { return {PeerStep::kReadToEnd, "", 0, {}}; }
PeerStep Close() { return {PeerStep::kClose, "", 0, {}}; }
PeerStep Abort() { return {PeerStep::kAbort, "", 0, {}}; }
PeerStep Pause(int millis) { return {PeerStep::kPause, "", millis, {}}; }
PeerStep ReadFrame(bool fileFrame) { return {PeerStep::kReadFrame, "", fileFrame ? 1 : 0, {}}; }
PeerStep Echo(int frames, const std::string &reply) { return {PeerStep::kEcho, reply, frames, {}}; }
PeerStep Store() { return {PeerStep::kStore, "", 0, {}}; }
PeerStep Serve(const std::string &bytes) { return {PeerStep::kServe, bytes, 0, {}}; }
PeerStep Call(std::function<void(int sock)> call) { return {PeerStep::kCall, "", 0, std::move(call)}; }

ScriptedPeer::ScriptedPeer(std::vector<PeerStep> script, PeerOptions options) : state_(std::make_unique<State>())
{
    State &st = *state_;
    st.script = std::move(script);
    st.options = options;
    // Windows Sockets as loading the library starts them, for the library
    // calls of a test linked with the static library.
    os::SockStartup(1, 1);
    st.listener = os::SockListen("127.0.0.1", 0, options.backlog);
    port_ = os::SockLocalPort(st.listener);
    if (options.connections != 0)
        st.acceptor.Start([](void *arg) { static_cast<State *>(arg)->Accept(); }, &st);
}

ScriptedPeer::~ScriptedPeer() { Wait(); }

void ScriptedPeer::Wait()
{
    State &st = *state_;
    if (st.waited)
        return;
    st.waited = true;
    const int expected = st.options.connections;
    if (expected != 0) {
        // Clients that never connected: wake the accept with a connection
        // of our own, which the peer drops.
        for (int waited = 0; expected != kEveryConnection && st.accepted < expected && waited < kConnectGraceMillis;
             waited += kGraceStepMillis)
            os::SleepMillis(kGraceStepMillis);
        int wake = -1;
        if (expected == kEveryConnection || st.accepted < expected) {
            st.stopping = true;
            wake = os::SockOpenTcp();
            const unsigned char loopback[4] = {127, 0, 0, 1};
            os::SockConnectIPv4(wake, loopback, port_);
        }
        st.acceptor.Join();
        for (auto &player : st.players)
            player->thread.Join();
        if (wake >= 0)
            os::SockCloseHandle(wake);
        os::LockGuard hold(st.lock);
        st.record.played = st.record.played && (expected == kEveryConnection || st.plays == expected);
    }
    os::SockCloseHandle(st.listener);
}

std::string ScriptedPeer::Received()
{
    Wait();
    return state_->record.received;
}

std::string ScriptedPeer::LastFrame()
{
    Wait();
    return state_->record.lastFrame;
}

std::string ScriptedPeer::FileRequest()
{
    Wait();
    return state_->record.request;
}

std::string ScriptedPeer::Stored()
{
    Wait();
    return state_->record.stored;
}

bool ScriptedPeer::Played()
{
    Wait();
    return state_->record.played;
}

bool ScriptedPeer::WasConnected() const { return os::WaitSocket(state_->listener, false, 200) == 1; }

bool ScriptedPeer::Pair(int *client, int *peer)
{
    const unsigned char loopback[4] = {127, 0, 0, 1};
    *client = os::SockOpenTcp();
    *peer = *client >= 0 && os::SockConnectIPv4(*client, loopback, port_) == 0 ? os::SockAccept(state_->listener) : -1;
    return *peer >= 0;
}

std::string FileFrame(char type, const std::string &body)
{
    unsigned char head[wire::kFileHeadSize];
    wire::PutFileHead(head, type, static_cast<int>(body.size()));
    return std::string(reinterpret_cast<char *>(head), sizeof head) + body;
}

int ClosedPort()
{
    const int listener = os::SockListen("127.0.0.1", 0);
    const int port = os::SockLocalPort(listener);
    os::SockCloseHandle(listener);
    return port;
}

}  // namespace tranpak::test
