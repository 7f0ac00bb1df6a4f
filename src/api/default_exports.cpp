// The eighteen functions of old, each on the one default session: the only
// state of the library outside the caller's sessions. The default session
// is never marked ready: the calls work on it before Init8583, as they
// always have.
#include "api/call_table.h"
#include "message/settings.h"

namespace tranpak {
namespace {

Session g_default;

// Runs call on the default session inside one exported call.
template <typename Call>
int OnDefault(Call call)
{
    ExportedCall opened(g_default.mesg.lastErr);
    return call(g_default);
}

}  // namespace

Session &DefaultSession() { return g_default; }

}  // namespace tranpak

using namespace tranpak;

// Unlike TpInit8583, it does not start the session afresh: the backup
// survives it.
extern "C" TRANPAK_API int TRANPAK_CALL Init8583(void)
{
    return OnDefault([&](Session &x) { return Init8583(x.mesg, nullptr); });
}

// Every row of the call table, on the default session.
#define TRANPAK_DEFAULT_ONLY(...) __VA_ARGS__
#define TRANPAK_LAST_FIELD kClassicCellCount
#define TRANPAK_DEFAULT_EXPORT(Name, TpName, parameters, call) \
  extern "C" TRANPAK_API int TRANPAK_CALL Name parameters      \
  {                                                            \
    return OnDefault([&](Session &x) { return call; });        \
  }
TRANPAK_CALLS(TRANPAK_DEFAULT_EXPORT)

// The readers of the last failure open no call: reading it changes nothing.
extern "C" TRANPAK_API int TRANPAK_CALL GetLastErrMesg(char *text, int size)
{
    return CopyLastErr(g_default.mesg.lastErr, text, size);
}

extern "C" TRANPAK_API int TRANPAK_CALL GetLastErrInfo(TpError *err)
{
    return CopyLastError(g_default.mesg.lastErr, err);
}
