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
    std::string type;       // of the request
    std::string replyType;  // fixed reply type, or empty
    long long count = 1;
    bool connectEach = false;  // a connection for every exchange, not one kept open
    bool progress = false;     // the progress line on standard error
};

// Runs the plan over one connection per session. Each session holds the
// request, set and backed up (TpBackupMesg), and is used by its thread
// alone; numbers puts each exchange's field 11. Ends early, between
// exchanges, once stop is nonzero.
LoadResult RunLoad(const LoadPlan &plan, const std::vector<TpSession *> &sessions, const TraceNumbers &numbers,
                   const std::atomic<int> &stop);

}  // namespace tranpak::tools

#endif
