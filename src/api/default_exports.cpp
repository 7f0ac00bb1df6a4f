// The seventeen functions and GetLastErrMesg, each on the one default
// session: the only state of the library outside the caller's sessions.
#include "api/session.h"
#include "core/cell_access.h"
#include "core/cell_text.h"
#include "core/describe.h"
#include "core/settings.h"
#include "net/mesg_exchange.h"
#include "net/net.h"
#include "packet/mac.h"

namespace tranpak {
namespace {

Session g_default;

}  // namespace

Session &DefaultSession() { return g_default; }

}  // namespace tranpak

using namespace tranpak;

namespace {

// Opens an exported call on the default session's record of failures.
struct DefaultCall : ExportedCall {
    DefaultCall() : ExportedCall(g_default.mesg.lastErr) {}
};

}  // namespace

extern "C" TRANPAK_API int TRANPAK_CALL Init8583(void)
{
    DefaultCall call;
    return Init8583(g_default.mesg, nullptr);
}

extern "C" TRANPAK_API int TRANPAK_CALL SetCell(int field, const void *value)
{
    DefaultCall call;
    return SetCell(g_default.mesg, field, value);
}

extern "C" TRANPAK_API int TRANPAK_CALL GetCell(int field, void *out)
{
    DefaultCall call;
    return GetCell(g_default.mesg, field, out);
}

extern "C" TRANPAK_API int TRANPAK_CALL GetCellType(int field)
{
    DefaultCall call;
    return GetCellType(g_default.mesg, field);
}

extern "C" TRANPAK_API int TRANPAK_CALL ResetCell(int field)
{
    DefaultCall call;
    return ResetCell(g_default.mesg, field);
}

extern "C" TRANPAK_API int TRANPAK_CALL ResetMesg(void)
{
    DefaultCall call;
    return ResetMesg(g_default.mesg);
}

extern "C" TRANPAK_API int TRANPAK_CALL BackupMesg(void)
{
    DefaultCall call;
    return BackupMesg(g_default.mesg);
}

extern "C" TRANPAK_API int TRANPAK_CALL RestoreMesg(void)
{
    DefaultCall call;
    return RestoreMesg(g_default.mesg);
}

extern "C" TRANPAK_API int TRANPAK_CALL CheckMesgMac(const void *key)
{
    DefaultCall call;
    return CheckMesgMac(g_default.mesg, g_default.des, key);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockConnect(const char *host, int port)
{
    DefaultCall call;
    return SockConnect(g_default.mesg, host, port);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockClose(int sock)
{
    DefaultCall call;
    return SockClose(g_default.mesg, sock);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockSendMesg(int sock, const void *key)
{
    DefaultCall call;
    return SockSendMesg(g_default.mesg, g_default.des, sock, key);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockRecvMesg(int sock, int)
{
    DefaultCall call;
    return SockRecvMesg(g_default.mesg, sock);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockSendFile(const char *host, int port, const char *local_path,
                                                     const char *request)
{
    DefaultCall call;
    return SockSendFile(g_default.mesg, g_default.file, host, port, local_path, request);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockSendBinFile(const char *host, int port, const char *local_path,
                                                        const char *request)
{
    DefaultCall call;
    return SockSendBinFile(g_default.mesg, g_default.file, host, port, local_path, request);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockRecvFile(const char *host, int port, const char *request,
                                                     const char *local_path)
{
    DefaultCall call;
    return SockRecvFile(g_default.mesg, g_default.file, host, port, request, local_path);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockRecvBinFile(const char *host, int port, const char *request,
                                                        const char *local_path)
{
    DefaultCall call;
    return SockRecvBinFile(g_default.mesg, g_default.file, host, port, request, local_path);
}

extern "C" TRANPAK_API int TRANPAK_CALL GetLastErrMesg(char *text, int size)
{
    return CopyLastErr(g_default.mesg.lastErr, text, size);
}

extern "C" TRANPAK_API int TRANPAK_CALL SetCellText(int field, const char *text)
{
    DefaultCall call;
    return SetCellText(g_default.mesg, field, text);
}

extern "C" TRANPAK_API int TRANPAK_CALL GetCellText(int field, char *text, int size)
{
    DefaultCall call;
    return GetCellText(g_default.mesg, field, text, size);
}

extern "C" TRANPAK_API int TRANPAK_CALL DescribeMesg(int flags, char *out, int size, int *outLen)
{
    DefaultCall call;
    return Describe(g_default.mesg, flags, out, size, outLen);
}

extern "C" TRANPAK_API int TRANPAK_CALL GetLastErrInfo(TpError *err)
{
    if (err == nullptr || err->size < static_cast<int>(sizeof(TpError)))
        return -1;
    return CopyLastError(g_default.mesg.lastErr, *err);
}
