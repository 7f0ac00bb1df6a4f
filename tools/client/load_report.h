// What a load did, and how the client tells it: the summary as text (one
// fact a line) or as one JSON object, latency percentiles by nearest rank,
// and the progress line rewritten once a second.
#ifndef TRANPAK_TOOLS_LOAD_REPORT_H
#define TRANPAK_TOOLS_LOAD_REPORT_H

#include "failure.h"

#include <string>
#include <vector>

namespace tranpak::tools {

struct LoadResult {
    long long requested = 0;
    int connections = 0;
    bool connectEach = false;
    int connected = 0;     // of the connections, those that were ever made
    long long done = 0;    // reply received, MAC verified, answers its request
    long long failed = 0;  // done + failed < requested only when stopped or given up
    long long failures[kFailureKinds] = {};
    std::string firstReason[kFailureKinds];  // escaped, of each kind's first failure
    long long duplicates = 0;                // replies that repeated the previous exchange's, read past
    bool stopped = false;                    // by Ctrl-C or a request to terminate
    int stopSignal = 0;                      // the signal that stopped it: SIGTERM, else taken for Ctrl-C
    int gaveUpSeconds = 0;                   // above 0: ended when no connection could be made for so long
    bool closedUnanswered = false;  // with gaveUpSeconds: connections were opened, each closed before an answer
    long long inFlight = 0;         // exchanges begun and left unfinished when it ended early
    int unfinished = 0;             // threads still in the library then
    double seconds = 0;
    std::vector<long long> latencyMicros;  // of the exchanges done, ascending
};

// The value at per-mille rank (500 is p50, 999 is p99.9) of ascending
// values by nearest rank: the smallest that at least that share of them
// does not exceed. 0 for no values.
long long NearestRank(const std::vector<long long> &ascending, int perMille);

std::string SummaryText(const LoadResult &r);
// One line, one object; the keys are read by scripts.
std::string SummaryJson(const LoadResult &r);
std::string ProgressLine(long long done, long long failed, double perSecond);

}  // namespace tranpak::tools

#endif
