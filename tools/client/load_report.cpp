#include "load_report.h"

#include <csignal>
#include <cstdio>

namespace tranpak::tools {
namespace {

struct Percentile {
    const char *name;
    int perMille;
};
// min and max are the ranks of the first and of the last value.
constexpr Percentile kPercentiles[] = {{"min", 0},   {"p50", 500},   {"p90", 900},
                                       {"p99", 990}, {"p99.9", 999}, {"max", 1000}};

double PerSecond(const LoadResult &r) { return r.seconds > 0 ? static_cast<double>(r.done) / r.seconds : 0; }

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// "4 connections kept open", "2 of 4 connections made, kept open",
// "4 connections, connecting for each exchange", "1 connection, none made".
std::string ConnectionsText(const LoadResult &r)
{
    const std::string count = std::to_string(r.connections) + (r.connections == 1 ? " connection" : " connections");
    if (r.connected == 0)
        return count + ", none made";
    if (r.connectEach)
        return count + ", connecting for each exchange";
    if (r.connected < r.connections)
        return std::to_string(r.connected) + " of " + count + " made, kept open";
    return count + " kept open";
}

}  // namespace

long long NearestRank(const std::vector<long long> &ascending, int perMille)
{
    if (ascending.empty())
        return 0;
    const long long n = static_cast<long long>(ascending.size());
    long long rank = (perMille * n + 999) / 1000;
    rank = rank < 1 ? 1 : rank > n ? n : rank;
    return ascending[static_cast<size_t>(rank - 1)];
}

std::string SummaryText(const LoadResult &r)
{
    std::string out = "exchanges: " + std::to_string(r.requested) + " requested, " + std::to_string(r.done) +
                      " done, " + std::to_string(r.failed) + " failed\n";
    std::string kinds;
    for (int k = 0; k < kFailureKinds; ++k)
        if (r.failures[k] > 0)
            kinds += (kinds.empty() ? "" : ", ") + std::string(FailureName(k)) + " " + std::to_string(r.failures[k]);
    out += "failures: " + (kinds.empty() ? "none" : kinds) + "\n";
    if (r.duplicates > 0)
        out += "duplicates: " + std::to_string(r.duplicates) + " replies repeated the previous exchange's, read past\n";
    out += "rate: " + Fixed(PerSecond(r), 0) + " exchanges per second over " + Fixed(r.seconds, 3) + " s, " +
           ConnectionsText(r) + "\n";
    if (r.latencyMicros.empty()) {
        out += "latency: none, no exchange was done\n";
    } else {
        out += "latency:";
        for (const Percentile &p : kPercentiles)
            out += std::string(p.perMille == 0 ? " " : ", ") + p.name + " " +
                   Fixed(NearestRank(r.latencyMicros, p.perMille) / 1000.0, 3) + " ms";
        out += "\n";
    }
    const std::string after = std::to_string(r.done + r.failed) + " of " + std::to_string(r.requested) + " exchanges" +
                              (r.inFlight > 0 ? ", " + std::to_string(r.inFlight) + " in flight left unfinished" : "");
    if (r.stopped)
        out +=
            std::string("stopped: by ") + (r.stopSignal == SIGTERM ? "SIGTERM" : "Ctrl-C") + " after " + after + "\n";
    else if (r.gaveUpSeconds > 0)
        out += std::string(r.closedUnanswered ? "ended: every connection was closed before an answer for "
                                              : "ended: no connection could be made for ") +
               std::to_string(r.gaveUpSeconds) + " s, after " + after + "\n";
    return out;
}

std::string SummaryJson(const LoadResult &r)
{
    std::string out =
        "{\"requested\":" + std::to_string(r.requested) + ",\"connections\":" + std::to_string(r.connections) +
        ",\"connect_each\":" + (r.connectEach ? "true" : "false") + ",\"connected\":" + std::to_string(r.connected) +
        ",\"done\":" + std::to_string(r.done) + ",\"failed\":" + std::to_string(r.failed) + ",\"failures\":{";
    bool first = true;
    for (int k = 0; k < kFailureKinds; ++k) {
        if (r.failures[k] == 0)
            continue;
        out += std::string(first ? "" : ",") + "\"" + FailureName(k) + "\":" + std::to_string(r.failures[k]);
        first = false;
    }
    out += "},\"duplicates\":" + std::to_string(r.duplicates) + ",\"stopped\":" + (r.stopped ? "true" : "false") +
           ",\"gave_up\":" + (r.gaveUpSeconds > 0 ? "true" : "false") + ",\"in_flight\":" + std::to_string(r.inFlight) +
           ",\"seconds\":" + Fixed(r.seconds, 3) + ",\"per_second\":" + Fixed(PerSecond(r), 1) + ",\"latency_us\":{";
    for (const Percentile &p : kPercentiles)
        out += std::string(p.perMille == 0 ? "" : ",") + "\"" + p.name +
               "\":" + (r.latencyMicros.empty() ? "null" : std::to_string(NearestRank(r.latencyMicros, p.perMille)));
    return out + "}}";
}

std::string ProgressLine(long long done, long long failed, double perSecond)
{
    return "done " + std::to_string(done) + ", failed " + std::to_string(failed) + ", " + Fixed(perSecond, 0) +
           " per second";
}

}  // namespace tranpak::tools
