#include "load.h"

#include "../common/os.h"
#include "reply.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace tranpak::tools {
namespace {

using Clock = std::chrono::steady_clock;

// The main thread looks at the threads this often, and shows progress
// once a second.
constexpr int kPollMillis = 20;
constexpr long long kProgressMicros = 1000000;
// Latencies a lane makes room for at its start (8 MB); beyond, its list
// grows with the exchanges done. Room for a whole --count of 10^9 (8 GB)
// would end the client at once on most machines, and always in a 32-bit
// process.
constexpr long long kLatencyRoom = 1 << 20;

long long MicrosBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
}

// What the threads share: the next exchange to make and the counts the
// progress line shows.
struct Shared {
    const LoadPlan &plan;
    const TraceNumbers &numbers;
    const std::atomic<int> &stop;
    std::atomic<long long> next{0};
    std::atomic<long long> done{0};
    std::atomic<long long> failed{0};
};

// One connection's thread and what it found, merged when all have ended.
struct Lane {
    TpSession *s = nullptr;
    std::vector<long long> latencies;
    long long failures[kFailureKinds] = {};
    std::string firstReason[kFailureKinds];
    Clock::time_point end;
    std::atomic<bool> running{false};
    os::Thread thread;
};

constexpr int kDone = -1;

// One exchange on the lane's connection, connecting first when there is
// none. kDone, or the failure's kind with *why. The latency starts at
// *start: before the connect with a connection for each exchange, after
// it otherwise.
int Exchange(const Shared &sh, Lane &lane, int *sock, unsigned long long n, Clock::time_point *start, Failure *why)
{
    const LoadPlan &plan = sh.plan;
    TpSession *s = lane.s;
    if (*sock < 0) {
        *sock = TpSockConnect(s, plan.host.c_str(), plan.port);
        if (*sock < 0) {
            *why = LastFailure(s);
            return KindOfCategory(why->category);
        }
        if (!plan.connectEach)
            *start = Clock::now();
    }
    TpRestoreMesg(s);
    if (sh.numbers.Put(s, n) != 0 || TpSockSendMesg(s, *sock, plan.key) != 0) {
        *why = LastFailure(s);
        return KindOfCategory(why->category);
    }
    const RequestEcho request = RememberRequest(s, plan.type);
    if (TpSockRecvMesg(s, *sock) != 0) {
        *why = LastFailure(s);
        return KindOfCategory(why->category);
    }
    if (TpCheckMesgMac(s, plan.key) != 0) {
        *why = LastFailure(s);
        return kFailMac;
    }
    const std::string mismatch = ReplyMismatch(s, request, plan.replyType);
    if (!mismatch.empty()) {
        why->reason = mismatch;
        return kFailNoAnswer;
    }
    return kDone;
}

void RunLane(Shared &sh, Lane &lane)
{
    int sock = -1;
    while (sh.stop.load() == 0) {
        const long long n = sh.next.fetch_add(1);
        if (n >= sh.plan.count)
            break;
        Clock::time_point start = Clock::now();
        Failure why;
        const int kind = Exchange(sh, lane, &sock, static_cast<unsigned long long>(n), &start, &why);
        if (kind == kDone) {
            lane.latencies.push_back(MicrosBetween(start, Clock::now()));
            ++sh.done;
        } else {
            if (lane.failures[kind]++ == 0)
                lane.firstReason[kind] = why.reason;
            ++sh.failed;
        }
        // A failed exchange leaves the connection in no known state.
        if (sock >= 0 && (kind != kDone || sh.plan.connectEach)) {
            TpSockClose(lane.s, sock);
            sock = -1;
        }
    }
    if (sock >= 0)
        TpSockClose(lane.s, sock);
    lane.end = Clock::now();
    lane.running = false;
}

// Waits for the lanes, rewriting the progress line once a second.
void Watch(const Shared &sh, std::vector<std::unique_ptr<Lane>> &lanes)
{
    Clock::time_point shown = Clock::now();
    long long doneThen = 0;
    size_t width = 0;
    for (;;) {
        const bool any = std::any_of(lanes.begin(), lanes.end(), [](const auto &l) { return l->running.load(); });
        if (!any)
            break;
        os::SleepMillis(kPollMillis);
        const long long micros = MicrosBetween(shown, Clock::now());
        if (!sh.plan.progress || micros < kProgressMicros)
            continue;
        const long long done = sh.done.load();
        std::string line = ProgressLine(done, sh.failed.load(), (done - doneThen) * 1e6 / micros);
        const size_t length = line.size();
        line.resize(std::max(width, length), ' ');  // covers a longer line before it
        width = length;
        std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
        shown = Clock::now();
        doneThen = done;
    }
    if (width > 0)
        std::fprintf(stderr, "\n");
}

}  // namespace

LoadResult RunLoad(const LoadPlan &plan, const std::vector<TpSession *> &sessions, const TraceNumbers &numbers,
                   const std::atomic<int> &stop)
{
    Shared sh{plan, numbers, stop};
    std::vector<std::unique_ptr<Lane>> lanes;
    const Clock::time_point start = Clock::now();
    for (TpSession *s : sessions) {
        auto lane = std::make_unique<Lane>();
        lane->s = s;
        lane->latencies.reserve(static_cast<size_t>(
            std::min(plan.count / static_cast<long long>(sessions.size()) + 1, kLatencyRoom)));
        lane->running = true;
        Lane *l = lane.get();
        if (!lane->thread.Start([&sh, l] { RunLane(sh, *l); })) {
            std::fprintf(stderr, "tranpak-client: cannot start a thread for connection %zu\n", lanes.size() + 1);
            break;
        }
        lanes.push_back(std::move(lane));
    }
    Watch(sh, lanes);

    LoadResult r;
    r.requested = plan.count;
    r.connections = static_cast<int>(lanes.size());
    r.connectEach = plan.connectEach;
    r.stopped = stop.load() != 0 && sh.done + sh.failed < plan.count;
    Clock::time_point end = start;
    for (auto &lane : lanes) {
        lane->thread.Join();
        end = std::max(end, lane->end);
        r.latencyMicros.insert(r.latencyMicros.end(), lane->latencies.begin(), lane->latencies.end());
        std::vector<long long>().swap(lane->latencies);  // not held twice
        for (int k = 0; k < kFailureKinds; ++k) {
            if (r.failures[k] == 0)
                r.firstReason[k] = lane->firstReason[k];
            r.failures[k] += lane->failures[k];
        }
    }
    r.done = sh.done;
    r.failed = sh.failed;
    r.seconds = MicrosBetween(start, end) / 1e6;
    std::sort(r.latencyMicros.begin(), r.latencyMicros.end());
    return r;
}

}  // namespace tranpak::tools
