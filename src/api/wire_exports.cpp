// TpSetWireFormat: a session's wire dialect set key by key, as a line of
// the settings file's [Wire Format] section sets it.
#include "api/session.h"
#include "kit/wire_format.h"
#include "tranpak.h"

namespace tranpak {
namespace {

Session *ReadyOrNull(TpSession *s)
{
    Session *session = reinterpret_cast<Session *>(s);
    return session != nullptr && session->ready == kSessionReady ? session : nullptr;
}

}  // namespace
}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL TpSetWireFormat(TpSession *s, const char *key, const char *value)
{
    Session *session = ReadyOrNull(s);
    if (session == nullptr)
        return -1;
    MesgState &m = session->mesg;
    ExportedCall opened(m.lastErr);
    if (key == nullptr || value == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpSetWireFormat() key or value is NULL");
        return -1;
    }
    if (wire::FindWireFormatKey(key) < 0) {
        WriteErrLog(m.Log(), kErrArgument,
                    "tranpak: [Wire Format] key %.40s is not LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, BITMAP, "
                    "CHARSET, NUMBERS, PREFIX or BINARY",
                    key);
        return -1;
    }
    if (wire::SetWireFormatKey(&m.settings.wire, key, value) != 0) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: [Wire Format] %.40s=%.200s is not a value of %.40s", key, value,
                    key);
        return -1;
    }
    m.settings.dialect = wire::IsSeedFormat(m.settings.wire) ? 0 : 1;
    m.wireState.headerLen = 0;
    return 0;
}
