// The host's connections: each accepted one is served on a thread of its
// own, in a slot that keeps its loaded session for the next. While
// maxClients are served nothing is accepted, so further clients wait in
// the listen backlog until one ends. Log lines are built whole and handed
// to the log's one writer (log_writer.h), so no connection waits on
// standard output and none takes a lock around writing it.
#include "os_programs.h"
#include "../common/tool_support.h"
#include "client_link.h"
#include "host.h"
#include "log_line.h"

#include <cstdio>

namespace tranpak::tools {
namespace {

// How long Serve waits for a client before it looks at Ctrl-C again.
constexpr int kIdlePollMillis = 200;
// How often Serve looks for an ended connection while all slots are busy,
// and while it waits for the last ones before returning.
constexpr int kFullPollMillis = 1;
// How long Serve waits after a failed accept. The client stays in the
// backlog and the listener stays readable, so trying again at once would
// spin; the usual cause, too few descriptors, passes as connections end.
constexpr int kAcceptRetryMillis = 50;
// How long a simulator destroyed without Finish waits for its log.
constexpr int kLogDrainMillis = 1000;

}  // namespace

HostSimulator::HostSimulator(HostOptions options) : options_(std::move(options)), log_(new LogWriter(options_.log)) {}

HostSimulator::~HostSimulator()
{
    for (auto &slot : slots_)
        slot->thread.Join();
    // A writer still held by standard output is left as it is.
    if (!logLeft_ && log_->Finish(kLogDrainMillis))
        delete log_;
}

bool HostSimulator::Finish(int millis)
{
    Say(0, "stopped");
    logLeft_ = !log_->Finish(millis);
    return !logLeft_;
}

HostSimulator::Slot *HostSimulator::FreeSlot()
{
    for (auto &slot : slots_)
        if (!slot->busy)
            return slot.get();
    slots_.push_back(std::make_unique<Slot>());
    return slots_.back().get();
}

int HostSimulator::JoinEnded()
{
    int joined = 0;
    for (auto &slot : slots_) {
        if (!slot->busy || !slot->ended)
            continue;
        slot->thread.Join();
        slot->busy = false;
        ++joined;
    }
    return joined;
}

void HostSimulator::Serve(volatile std::sig_atomic_t *stop)
{
    long accepted = 0;
    int serving = 0;
    bool acceptFailing = false;  // said once until an accept succeeds again
    while (!*stop && (options_.maxConnections == 0 || accepted < options_.maxConnections)) {
        if (!OutputWorks()) {
            *stop = 1;  // every connection ends at its next look at the flag
            break;
        }
        serving -= JoinEnded();
        if (serving >= options_.maxClients) {
            os::SleepMillis(kFullPollMillis);
            continue;
        }
        // Waiting with a time limit, not in accept, so Ctrl-C is seen at
        // once on every platform.
        if (os::WaitSocket(listener_, false, kIdlePollMillis) != 1)
            continue;
        const int sock = os::SockAccept(listener_);
        if (sock < 0) {
            if (!acceptFailing)
                Say(0, "cannot accept a connection (out of descriptors?); trying again while " +
                           std::to_string(serving) + " are served");
            acceptFailing = true;
            os::SleepMillis(kAcceptRetryMillis);
            continue;
        }
        acceptFailing = false;
        const long number = ++accepted;
        Slot *slot = FreeSlot();
        slot->ended = false;
        slot->run = {this, sock, number, stop};
        slot->busy = slot->thread.Start(RunSlot, slot);
        if (!slot->busy) {
            os::SockCloseHandle(sock);
            Say(number, "connection closed: no thread can be started for it");
            continue;
        }
        ++serving;
    }
    // Ctrl-C reaches every connection through the flag; each then closes,
    // removing a temporary file it was writing, before "stopped".
    while (serving > 0) {
        if (!OutputWorks())
            *stop = 1;
        serving -= JoinEnded();
        if (serving > 0)
            os::SleepMillis(kFullPollMillis);
    }
    os::SockCloseHandle(listener_);
}

void HostSimulator::RunConnection(Slot *slot, int sock, long number, volatile std::sig_atomic_t *stop)
{
    {
        ClientLink link(sock, options_.clientTimeoutMillis, stop, number);
        if (!wire_.seed)
            link.SpeakDialect(wire_.format);
        HandleConnection(link, slot);
    }
    os::SockCloseHandle(sock);
    slot->ended = true;
}

void HostSimulator::Say(const ClientLink &link, const std::string &line) { Say(link.Number(), line); }

void HostSimulator::Say(long connection, const std::string &line) { log_->Put(LogLine(connection, line)); }

}  // namespace tranpak::tools
