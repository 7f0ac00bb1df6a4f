// Why an exchange failed, as the client tells it: the library's category
// and reason from GetLastErrMesg, shown with every byte outside printable
// ASCII as \xHH (a reason can quote bytes a host sent), and the names the
// load summary counts failures under.
#ifndef TRANPAK_TOOLS_FAILURE_H
#define TRANPAK_TOOLS_FAILURE_H

#include "tranpak.h"

#include <string>

namespace tranpak::tools {

struct Failure {
    int category = TRANPAK_ERR_NONE;
    std::string reason;  // escaped; empty when the call reported none
    std::string detail;  // what and where, escaped; empty as reason
};

// The detail as a line of its own on standard error ("tranpak-client:
// connect to 127.0.0.1:5000: Connection refused"), unless the reason
// already says it all.
void PrintDetail(const char *tool, const Failure &failure);

// The failure of the session's most recent call. Taken before any other
// call on the session, which would replace it.
Failure LastFailure(TpSession *s);

// What a load counts failures by: the library's categories (MAC included),
// and replies that came with a good MAC but answer another request.
enum FailureKind {
    kFailOther = TRANPAK_ERR_NONE,  // a failure the library gave no category
    kFailMac = TRANPAK_ERR_MAC,
    kFailNoAnswer = TRANPAK_ERR_HOST_REFUSED + 1,
    kFailureKinds
};

// "settings", "peer closed", ..., "MAC", "does not answer".
const char *FailureName(int kind);
// A library category as a kind (an unknown one is kFailOther).
int KindOfCategory(int category);

}  // namespace tranpak::tools

#endif
