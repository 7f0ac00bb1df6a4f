#include "failure.h"

#include "../common/shown_text.h"
#include "../common/tool_support.h"

#include <cstdio>

namespace tranpak::tools {
namespace {

// A reason is one log line without its time stamp.
constexpr int kReasonSize = 512;

}  // namespace

Failure LastFailure(TpSession *s)
{
    char reason[kReasonSize] = {};
    Failure f;
    f.category = TpGetLastErrMesg(s, reason, sizeof reason);
    f.reason = ControlsEscaped(reason);
    f.detail = LastDetail(s);
    return f;
}

void PrintDetail(const char *tool, const Failure &failure)
{
    if (!failure.detail.empty() && failure.reason.find(failure.detail) == std::string::npos)
        std::fprintf(stderr, "%s: %s\n", tool, failure.detail.c_str());
}

const char *FailureName(int kind)
{
    static const char *const kNames[kFailureKinds] = {
        "other",     "settings", "argument",   "connect",      "time limit",      "peer closed",
        "malformed", "MAC",      "local file", "host refused", "does not answer",
    };
    return kind >= 0 && kind < kFailureKinds ? kNames[kind] : kNames[kFailOther];
}

int KindOfCategory(int category)
{
    return category > TRANPAK_ERR_NONE && category <= TRANPAK_ERR_HOST_REFUSED ? category : kFailOther;
}

}  // namespace tranpak::tools
