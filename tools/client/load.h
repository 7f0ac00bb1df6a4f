// The client's load: one request sent many times over several connections
// at once, each on its own thread with its own session, every reply's MAC
// checked and the reply matched to its request by fields 11 and 41.
#ifndef TRANPAK_TOOLS_LOAD_H
#define TRANPAK_TOOLS_LOAD_H

#include "load_report.h"
#include "request.h"
#include "tranpak.h"

#include <atomic>
#include <string>
#include <vector>

namespace tranpak::tools {

struct LoadPlan {
    std::string host;
    int port = 0;
    unsigned char key[32] = {};  // as many bytes as the sessions' MAC reads
    std::string type;            // of the request
    std::string replyType;       // fixed reply type, or empty
    long long count = 1;
    bool connectEach = false;  // a connection for every exchange, not one kept open
    bool progress = false;     // the progress line on standard error
    int giveUpMillis =
        5000;  // without any connection made (not closed before its first answer) for this long, the load ends
};

// After a failed connect, or a connection the host closed before its first
// answer, a connection waits before it tries again: the first wait,
// doubled after each such failure in a row up to the longest.
inline constexpr int kBackoffFirstMillis = 10;
inline constexpr int kBackoffMostMillis = 500;
// Once stopped, exchanges in flight have this long to end before the
// summary is made without them.
inline constexpr int kStopGraceMillis = 300;
// Replies that repeat the previous exchange's, read past in one exchange
// at most; one more is a reply that does not answer.
inline constexpr int kMaxRepeatsReadPast = 8;

// Runs the plan over one connection per session. Each session holds the
// request, set and backed up (TpBackupMesg), and is used by its thread
// alone; numbers puts each exchange's field 11. Ends early once stop is
// nonzero (the number of the signal that set it, which the result keeps),
// or when no connection could be made for plan.giveUpMillis:
// within kStopGraceMillis and a little, whatever the connections wait on,
// without the exchanges still in flight. When result.unfinished > 0 those
// threads still run in the library: the sessions, plan and numbers must
// stay untouched until the process ends, which the caller must do at once.
LoadResult RunLoad(const LoadPlan &plan, const std::vector<TpSession *> &sessions, const TraceNumbers &numbers,
                   const std::atomic<int> &stop);

}  // namespace tranpak::tools

#endif
