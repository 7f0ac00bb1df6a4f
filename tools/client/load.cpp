#include "load.h"

#include "os_programs.h"
#include "reply.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace tranpak::tools {
namespace {

using Clock = std::chrono::steady_clock;

// The main thread looks at the threads this often, and shows progress
// once a second; a connection backing off looks at the stop as often.
constexpr int kPollMillis = 20;
constexpr long long kProgressMicros = 1000000;
// Latencies a lane makes room for at its start (8 MB); beyond, its list
// grows with the exchanges done. Room for a whole --count of 10^9 (8 GB)
// would end the client at once on most machines, and always in a 32-bit
// process.
constexpr long long kLatencyRoom = 1 << 20;
constexpr long long kNever = -1;

long long MicrosBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
}

// What the threads share: the next exchange to make, whether to end, when
// a connection was last made (one that was not closed before its first
// answer), last opened at all and last refused, and the counts the
// progress line shows.
struct Shared {
    Shared(const LoadPlan &p, const TraceNumbers &n, const std::atomic<int> &s) : plan(p), numbers(n), stop(s) {}
    const LoadPlan &plan;
    const TraceNumbers &numbers;
    const std::atomic<int> &stop;
    const Clock::time_point start = Clock::now();
    std::atomic<bool> quit{false};  // Ctrl-C or given up: no exchange begins any more
    std::atomic<long long> next{0};
    std::atomic<long long> lastConnected{0};  // microseconds from start
    std::atomic<long long> lastOpened{kNever};
    std::atomic<long long> lastRefused{kNever};
    std::atomic<long long> done{0};
    std::atomic<long long> failed{0};

    long long Now() const { return MicrosBetween(start, Clock::now()); }
    bool Ending() const { return quit.load() || stop.load() != 0; }
};

// One connection's thread and what it found. The record is taken under
// lock, once, when the load ends; a thread that finishes an exchange
// after that (frozen) leaves it as it is.
struct Lane {
    TpSession *s = nullptr;
    Shared *shared = nullptr;  // for the lane's thread
    os::Mutex lock;
    bool frozen = false;
    bool busy = false;  // an exchange begun and not yet recorded
    std::vector<long long> latencies;
    long long failures[kFailureKinds] = {};
    std::string firstReason[kFailureKinds];
    long long duplicates = 0;
    // A connection was made at least once: opened, and not closed by the
    // host before its first answer.
    std::atomic<bool> connected{false};
    bool answeredOnce = false;               // a connection of the lane was not closed before its first answer
    std::atomic<long long> needing{kNever};  // since when it has wanted a connection and had none
    std::atomic<bool> probing{false};        // a new connection's first exchange is under way
    Clock::time_point end;
    std::atomic<bool> running{false};
    os::Thread thread;
};

constexpr int kDone = -1;

// What one exchange came to.
struct Outcome {
    int kind = kDone;
    Failure why;
    bool connectFailed = false;
    bool closedUnanswered =
        false;  // on a new connection the host closed (or reset) before answering, or sent no Packet
    long long duplicates = 0;
};

// The library's connection failure, with the system's reason beside its
// words (asked once a connection: finding it costs one more attempt).
std::string ConnectReason(const LoadPlan &plan, const std::string &reason)
{
    char text[os::kSystemTextSize];
    const std::string problem = os::ConnectProblem(plan.host.c_str(), plan.port, kBackoffMostMillis, text, sizeof text);
    return problem.empty() ? reason : reason + " (" + problem + ")";
}

// The reply in the session repeats the one the previous exchange took.
bool RepeatsPrevious(TpSession *s, const RequestEcho *previous, const std::string &replyType)
{
    return previous != nullptr && ReplyMismatch(s, *previous, replyType).empty();
}

// One exchange on the lane's connection, connecting first when there is
// none. The latency starts at *start: before the connect with a
// connection for each exchange, after it otherwise. *previous is the
// request the connection last had answered (null: none yet); an answered
// request is put in *answered.
Outcome Exchange(Shared &sh, Lane &lane, int *sock, unsigned long long n, Clock::time_point *start,
                 const RequestEcho *previous, RequestEcho *answered)
{
    const LoadPlan &plan = sh.plan;
    TpSession *s = lane.s;
    Outcome o;
    auto failed = [&](int kind) {
        o.kind = kind;
        return o;
    };
    if (*sock < 0) {
        if (lane.needing.load() == kNever)
            lane.needing = sh.Now();
        *sock = TpSockConnect(s, plan.host.c_str(), plan.port);
        if (*sock < 0) {
            o.why = LastFailure(s);
            o.connectFailed = true;
            sh.lastRefused = sh.Now();
            return failed(KindOfCategory(o.why.category));
        }
        // Made only once it answers (lane.connected waits for that): a
        // host that closes each connection at once must not look like one
        // that takes them.
        lane.probing = true;
        sh.lastOpened = sh.Now();
        if (!plan.connectEach)
            *start = Clock::now();
    }
    TpRestoreMesg(s);
    if (sh.numbers.Put(s, n) != 0 || TpSockSendMesg(s, *sock, plan.key) != 0) {
        o.why = LastFailure(s);
        return failed(KindOfCategory(o.why.category));
    }
    const RequestEcho request = RememberRequest(s, plan.type);
    for (;;) {
        if (TpSockRecvMesg(s, *sock) != 0) {
            o.why = LastFailure(s);
            return failed(KindOfCategory(o.why.category));
        }
        if (TpCheckMesgMac(s, plan.key) != 0) {
            o.why = LastFailure(s);
            return failed(kFailMac);
        }
        const std::string mismatch = ReplyMismatch(s, request, plan.replyType);
        if (mismatch.empty())
            break;
        // A reply sent twice belongs to the exchange before: it is not
        // this one's answer, and this one's may still come.
        if (o.duplicates < kMaxRepeatsReadPast && RepeatsPrevious(s, previous, plan.replyType)) {
            ++o.duplicates;
            continue;
        }
        o.why.reason = mismatch;
        return failed(kFailNoAnswer);
    }
    *answered = request;
    return o;
}

// Takes one exchange's outcome into the lane's record, unless the load
// has already been summed up.
void Record(Shared &sh, Lane &lane, const Outcome &o, long long micros)
{
    os::LockGuard hold(lane.lock);
    lane.busy = false;
    if (lane.frozen)
        return;
    lane.duplicates += o.duplicates;
    if (o.kind == kDone) {
        lane.latencies.push_back(micros);
        ++sh.done;
        return;
    }
    if (lane.failures[o.kind]++ == 0)
        lane.firstReason[o.kind] = o.why.reason;
    ++sh.failed;
}

// Waits before the next connect, longer after each failure in a row (a
// failed connect, or a connection closed before its first answer); false
// when the load ends meanwhile.
bool BackOff(const Shared &sh, int failuresInARow)
{
    int wait = kBackoffFirstMillis;
    for (int k = 1; k < failuresInARow && wait < kBackoffMostMillis; ++k)
        wait *= 2;
    wait = std::min(wait, kBackoffMostMillis);
    for (int waited = 0; waited < wait && !sh.Ending(); waited += kPollMillis)
        os::SleepMillis(std::min(kPollMillis, wait - waited));
    return !sh.Ending();
}

void RunLane(Shared &sh, Lane &lane)
{
    int sock = -1;
    int connectFailures = 0;  // and connections closed before their first answer, in a row
    RequestEcho previous;
    bool havePrevious = false;
    bool probed = false;  // the system's reason for a failed connect was asked once
    while (!sh.Ending()) {
        const long long n = sh.next.fetch_add(1);
        if (n >= sh.plan.count)
            break;
        {
            os::LockGuard hold(lane.lock);
            lane.busy = true;
        }
        Clock::time_point start = Clock::now();
        const bool fresh = sock < 0;
        Outcome o = Exchange(sh, lane, &sock, static_cast<unsigned long long>(n), &start,
                             havePrevious ? &previous : nullptr, &previous);
        const long long micros = MicrosBetween(start, Clock::now());
        if (o.connectFailed && o.why.category == TRANPAK_ERR_CONNECT && !probed) {
            o.why.reason = ConnectReason(sh.plan, o.why.reason);
            probed = true;
        }
        if (fresh && !o.connectFailed) {
            // A Packet, even one with a bad MAC or the wrong answer, or
            // the receive time limit shows a host that takes connections;
            // the host's close before its answer, or bytes that are no
            // Packet (a web server's page, say), do not.
            o.closedUnanswered = o.why.category == TRANPAK_ERR_PEER_CLOSED || o.why.category == TRANPAK_ERR_MALFORMED;
            if (!o.closedUnanswered) {
                lane.needing = kNever;
                sh.lastConnected = sh.Now();
                lane.answeredOnce = true;
            }
            lane.connected = lane.answeredOnce;
            lane.probing = false;
        }
        Record(sh, lane, o, micros);
        havePrevious = o.kind == kDone && !sh.plan.connectEach;
        // A failed exchange leaves the connection in no known state.
        if (sock >= 0 && (o.kind != kDone || sh.plan.connectEach)) {
            TpSockClose(lane.s, sock);
            sock = -1;
        }
        connectFailures = o.connectFailed || o.closedUnanswered ? connectFailures + 1 : 0;
        if (connectFailures > 0 && !BackOff(sh, connectFailures))
            break;
    }
    if (sock >= 0)
        TpSockClose(lane.s, sock);
    lane.end = Clock::now();
    lane.running = false;
}

// True when no connection has been made for giveUp while one was wanted
// all that time, and none just made waits for its first answer, which may
// yet come.
bool NoConnection(const Shared &sh, const std::vector<std::unique_ptr<Lane>> &lanes)
{
    const long long now = sh.Now(), giveUp = sh.plan.giveUpMillis * 1000LL;
    if (now - sh.lastConnected.load() < giveUp)
        return false;
    if (std::any_of(lanes.begin(), lanes.end(), [](const auto &l) { return l->probing.load(); }))
        return false;
    return std::any_of(lanes.begin(), lanes.end(), [&](const auto &l) {
        const long long since = l->needing.load();
        return since != kNever && now - since >= giveUp;
    });
}

// Waits for the lanes, rewriting the progress line once a second. On
// Ctrl-C, or when no connection can be made, it tells the lanes to end
// and waits kStopGraceMillis at most for those in an exchange. True when
// the load gave up.
bool Watch(Shared &sh, std::vector<std::unique_ptr<Lane>> &lanes)
{
    Clock::time_point shown = Clock::now();
    long long doneThen = 0;
    size_t width = 0;
    bool gaveUp = false;
    Clock::time_point endingSince{};
    for (;;) {
        const bool any = std::any_of(lanes.begin(), lanes.end(), [](const auto &l) { return l->running.load(); });
        if (!any)
            break;
        if (!sh.Ending() && NoConnection(sh, lanes)) {
            gaveUp = true;
            sh.quit = true;
        }
        if (sh.Ending()) {
            if (endingSince == Clock::time_point{})
                endingSince = Clock::now();
            else if (MicrosBetween(endingSince, Clock::now()) >= kStopGraceMillis * 1000LL)
                break;
        }
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
    return gaveUp;
}

}  // namespace

LoadResult RunLoad(const LoadPlan &plan, const std::vector<TpSession *> &sessions, const TraceNumbers &numbers,
                   const std::atomic<int> &stop)
{
    // On the heap: left there for threads still in the library at the end.
    auto sh = std::make_unique<Shared>(plan, numbers, stop);
    std::vector<std::unique_ptr<Lane>> lanes;
    for (TpSession *s : sessions) {
        auto lane = std::make_unique<Lane>();
        lane->s = s;
        lane->latencies.reserve(
            static_cast<size_t>(std::min(plan.count / static_cast<long long>(sessions.size()) + 1, kLatencyRoom)));
        lane->running = true;
        lane->shared = sh.get();
        auto run = [](void *arg) {
            auto *l = static_cast<Lane *>(arg);
            RunLane(*l->shared, *l);
        };
        if (!lane->thread.Start(run, lane.get())) {
            std::fprintf(stderr, "tranpak-client: cannot start a thread for connection %zu\n", lanes.size() + 1);
            break;
        }
        lanes.push_back(std::move(lane));
    }
    const bool gaveUp = Watch(*sh, lanes);
    const Clock::time_point summed = Clock::now();

    LoadResult r;
    r.requested = plan.count;
    r.connections = static_cast<int>(lanes.size());
    r.connectEach = plan.connectEach;
    r.gaveUpSeconds = gaveUp ? (plan.giveUpMillis + 999) / 1000 : 0;
    // What the last attempts found: connections refused, or taken and closed.
    r.closedUnanswered = gaveUp && sh->lastOpened.load() > sh->lastRefused.load();
    Clock::time_point end = sh->start;
    for (auto &lane : lanes) {
        {
            os::LockGuard hold(lane->lock);
            lane->frozen = true;
            r.inFlight += lane->busy ? 1 : 0;
            r.latencyMicros.insert(r.latencyMicros.end(), lane->latencies.begin(), lane->latencies.end());
            std::vector<long long>().swap(lane->latencies);  // not held twice
            for (int k = 0; k < kFailureKinds; ++k) {
                if (r.failures[k] == 0)
                    r.firstReason[k] = lane->firstReason[k];
                r.failures[k] += lane->failures[k];
                r.failed += lane->failures[k];
            }
            r.duplicates += lane->duplicates;
        }
        r.connected += lane->connected ? 1 : 0;
        if (lane->running) {
            ++r.unfinished;
            end = std::max(end, summed);
        } else {
            lane->thread.Join();
            end = std::max(end, lane->end);
        }
    }
    r.done = static_cast<long long>(r.latencyMicros.size());
    r.stopped = stop.load() != 0 && r.done + r.failed < plan.count;
    r.stopSignal = r.stopped ? stop.load() : 0;
    r.seconds = MicrosBetween(sh->start, end) / 1e6;
    std::sort(r.latencyMicros.begin(), r.latencyMicros.end());
    if (r.unfinished > 0) {
        // Their threads still use these: never destroyed.
        static_cast<void>(sh.release());
        for (auto &lane : lanes)
            static_cast<void>(lane.release());
    }
    return r;
}

}  // namespace tranpak::tools
