// The session functions: each does on the caller's session what its
// namesake among the eighteen does on the default one.
#include "api/call_table.h"
#include "codec/frame.h"
#include "message/settings.h"

#include <cstring>
#include <new>

namespace tranpak {
namespace {

Session *AsSession(TpSession *s) { return std::launder(reinterpret_cast<Session *>(s)); }

// Storage the library can use as a session: not NULL, and aligned as a
// TpSession is (storage that is not would be read with misaligned loads,
// which some processors refuse and the language leaves undefined).
bool Usable(const TpSession *s) { return s != nullptr && reinterpret_cast<uintptr_t>(s) % alignof(TpSession) == 0; }

bool Ready(TpSession *s) { return Usable(s) && AsSession(s)->ready == kSessionReady; }

// Runs call on an initialised session inside one exported call; a NULL,
// misaligned or never initialised session is refused before anything is
// touched.
template <typename Call>
int OnSession(TpSession *s, Call call)
{
    if (!Ready(s))
        return -1;
    Session &session = *AsSession(s);
    ExportedCall opened(session.mesg.lastErr);
    return call(session);
}

// Every initialisation starts from all zero, the state of a library just
// loaded: storage handed in may hold anything, a session used before in
// the same place included (a thread's stack, say), and nothing of it may
// come back. Only the error log a ready session named is kept, so that a
// refused initialisation is written where the earlier ones were.
Session &Prepare(TpSession *s)
{
    char previousLog[kPathSize] = "";
    if (AsSession(s)->ready == kSessionReady) {
        std::memcpy(previousLog, AsSession(s)->mesg.settings.errfile, sizeof previousLog);
        previousLog[kPathSize - 1] = '\0';
    }
    Session *session = new (s) Session{};
    session->ready = kSessionReady;
    std::memcpy(session->mesg.settings.errfile, previousLog, sizeof previousLog);
    return *session;
}

}  // namespace
}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API size_t TRANPAK_CALL TpSessionSize(void) { return sizeof(TpSession); }

extern "C" TRANPAK_API int TRANPAK_CALL TpInit8583(TpSession *s, const char *settingsFile)
{
    if (!Usable(s))
        return -1;
    Prepare(s);
    return OnSession(s, [&](Session &x) { return Init8583(x.mesg, settingsFile); });
}

extern "C" TRANPAK_API int TRANPAK_CALL TpInit8583With(TpSession *s, const TpSettings *settings)
{
    if (!Usable(s))
        return -1;
    // The settings are checked on a ready session before it is prepared
    // afresh, so that a refusal leaves it exactly as it was (definitions,
    // limits and values) and is logged where its earlier lines went.
    if (Ready(s) && OnSession(s, [&](Session &x) { return CheckSettingsWith(x.mesg, settings); }) != 0)
        return -1;
    Prepare(s);
    return OnSession(s, [&](Session &x) { return Init8583With(x.mesg, settings); });
}

extern "C" TRANPAK_API int TRANPAK_CALL TpWipe(TpSession *s)
{
    if (!Usable(s))
        return -1;
    // Volatile stores, so that the wipe of keys and card data is not left
    // out as a write nobody reads.
    volatile unsigned char *p = s->opaque.bytes;
    for (size_t i = 0; i < sizeof s->opaque.bytes; ++i)
        p[i] = 0;
    return 0;
}

// Every row of the call table, on the caller's session.
#define TRANPAK_DEFAULT_ONLY(...)
#define TRANPAK_LAST_FIELD kCellCount
#define TRANPAK_SESSION_EXPORT(Name, TpName, parameters, call)                    \
  extern "C" TRANPAK_API int TRANPAK_CALL TpName TRANPAK_SESSION_FIRST parameters \
  {                                                                               \
    return OnSession(s, [&](Session &x) { return call; });                        \
  }
TRANPAK_CALLS(TRANPAK_SESSION_EXPORT)

extern "C" TRANPAK_API int TRANPAK_CALL TpGetLastErrMesg(TpSession *s, char *text, int size)
{
    // Reading the reason changes nothing, so no call is opened.
    if (!Ready(s))
        return -1;
    return CopyLastErr(AsSession(s)->mesg.lastErr, text, size);
}

extern "C" TRANPAK_API int TRANPAK_CALL TpGetCellDef(TpSession *s, int field, TpCellDef *def)
{
    return OnSession(s, [&](Session &x) {
        if (field < 1 || field > kCellCount || def == nullptr) {
            WriteErrLog(x.mesg.LogField(field >= 1 && field <= kCellCount ? field : -1), kErrArgument,
                        "tranpak: TpGetCellDef() field %d: no such field or no room", field);
            return -1;
        }
        const BMPCell &cell = x.mesg.cells[field - 1];
        static_assert(sizeof def->name == sizeof cell.name);
        std::memcpy(def->name, cell.name, sizeof def->name);
        def->name[sizeof def->name - 1] = '\0';
        def->type = cell.type;
        def->maxlen = cell.maxlen;
        def->varlen = cell.varlen;
        def->used = cell.used;
        return CellDefined(cell) ? 0 : 1;
    });
}

extern "C" TRANPAK_API int TRANPAK_CALL TpGetBitmap(TpSession *s, unsigned char bitmap[8])
{
    return OnSession(s, [&](Session &x) {
        if (bitmap == nullptr) {
            WriteErrLog(x.mesg.Log(), kErrArgument, "tranpak: TpGetBitmap() bitmap is NULL");
            return -1;
        }
        std::memcpy(bitmap, x.mesg.packet.bitmap, kBitmapSize);
        return 0;
    });
}

extern "C" TRANPAK_API int TRANPAK_CALL TpPackMesg(TpSession *s, const void *key, unsigned char *frame, int size,
                                                   int *frameLen)
{
    return OnSession(s, [&](Session &x) { return PackFrame(x.mesg, x.des, key, frame, size, frameLen); });
}

extern "C" TRANPAK_API int TRANPAK_CALL TpUnpackMesg(TpSession *s, const unsigned char *frame, int frameLen)
{
    return OnSession(s, [&](Session &x) { return UnpackFrame(x.mesg, frame, frameLen); });
}

extern "C" TRANPAK_API int TRANPAK_CALL TpShowValue(int field, int flags, const char *value, int len, char *out,
                                                    int size, int *outLen)
{
    return ShowValueText(field, flags, value, len, out, size, outLen);
}

extern "C" TRANPAK_API int TRANPAK_CALL TpDescribeCell(TpSession *s, int field, int flags, char *out, int size,
                                                       int *outLen)
{
    return OnSession(s, [&](Session &x) { return DescribeCell(x.mesg, field, flags, out, size, outLen); });
}

extern "C" TRANPAK_API int TRANPAK_CALL TpGetLastError(TpSession *s, TpError *err)
{
    // As TpGetLastErrMesg: reading the failure changes nothing.
    if (!Ready(s))
        return -1;
    return CopyLastError(AsSession(s)->mesg.lastErr, err);
}
