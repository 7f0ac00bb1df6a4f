#include "support/peer.h"

#include "kit/wire.h"
#include "net/net.h"
#include "net/sock_init.h"
#include "os_programs.h"

namespace tranpak::test {
namespace {

constexpr int kWaitMillis = 10000;

}  // namespace

PeerStep Send(const std::string &bytes) { return {PeerStep::kSend, bytes, 0}; }
PeerStep Read(int count) { return {PeerStep::kRead, "", count}; }
PeerStep ReadToEnd() { return {PeerStep::kReadToEnd, "", 0}; }
PeerStep Close() { return {PeerStep::kClose, "", 0}; }
PeerStep Abort() { return {PeerStep::kAbort, "", 0}; }
PeerStep Pause(int millis) { return {PeerStep::kPause, "", millis}; }

ScriptedPeer::ScriptedPeer(std::vector<PeerStep> script) : script_(std::move(script))
{
    SockAppInit();
    listener_ = os::SockListen("127.0.0.1", 0);
    port_ = os::SockLocalPort(listener_);
    thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() { Received(); }

std::string ScriptedPeer::Received()
{
    if (!joined_) {
        joined_ = true;
        // A client that never connected: wake the accept with a connection
        // of our own, which the peer drops.
        for (int waited = 0; !accepted_ && waited < 2000; waited += 10)
            os::SleepMillis(10);
        if (!accepted_) {
            abandoned_ = true;
            int s = os::SockOpenTcp();
            const unsigned char loopback[4] = {127, 0, 0, 1};
            os::SockConnectIPv4(s, loopback, port_);
            thread_.join();
            os::SockCloseHandle(s);
            os::SockCloseHandle(listener_);
            return received_;
        }
        thread_.join();
        os::SockCloseHandle(listener_);
    }
    return received_;
}

void ScriptedPeer::Run()
{
    int sock = os::SockAccept(listener_);
    accepted_ = true;
    if (sock < 0 || abandoned_) {
        if (sock >= 0)
            os::SockCloseHandle(sock);
        return;
    }
    os::SockSetRecvTimeout(sock, kWaitMillis);
    bool open = true;
    for (const PeerStep &step : script_) {
        if (!open)
            break;
        switch (step.kind) {
        case PeerStep::kSend:
            SendAll(sock, step.bytes.data(), static_cast<int>(step.bytes.size()));
            break;
        case PeerStep::kRead:
        case PeerStep::kReadToEnd: {
            bool toEnd = step.kind == PeerStep::kReadToEnd;
            int left = step.count;
            char buf[4096];
            while (toEnd || left > 0) {
                int want = toEnd ? static_cast<int>(sizeof buf) : (left < 4096 ? left : 4096);
                int n = os::SockRecvSome(sock, buf, want);
                if (n <= 0)
                    break;  // closed, failed or timed out
                received_.append(buf, static_cast<size_t>(n));
                left -= n;
            }
            break;
        }
        case PeerStep::kClose:
            os::SockCloseHandle(sock);
            open = false;
            break;
        case PeerStep::kAbort:
            os::SockAbort(sock);
            open = false;
            break;
        case PeerStep::kPause:
            os::SleepMillis(step.count);
            break;
        }
    }
    if (open)
        os::SockCloseHandle(sock);
}

std::string FileFrame(char type, const std::string &body)
{
    unsigned char head[wire::kFileHeadSize];
    wire::PutFileHead(head, type, static_cast<int>(body.size()));
    return std::string(reinterpret_cast<char *>(head), sizeof head) + body;
}

}  // namespace tranpak::test
