// The calls made both by a session function and by its namesake on the
// default session, each named once. session_exports.cpp makes TpName of
// every row (on the caller's session), default_exports.cpp makes Name (on
// the default session).
//
//   X(Name, TpName, (parameters), what the call does to Session &x)
//
// TpName takes TpSession *s before the parameters. SockRecvMesg of the
// eighteen has always taken a second int that it never reads:
// TRANPAK_DEFAULT_ONLY(...) holds a parameter only the default export
// takes, and each of the two files defines it before it expands the table.
// TRANPAK_LAST_FIELD likewise: the last field ResetCell reaches, 64 as it
// always did, and TpResetCell all 128, as the session's text functions.
// The calls that are not alike on both sides (the initialisations and
// the readers of the last failure) are written out in their files.
#ifndef TRANPAK_API_CALL_TABLE_H
#define TRANPAK_API_CALL_TABLE_H

#include "api/session.h"
#include "channel/file_transfer.h"
#include "channel/mesg_exchange.h"
#include "channel/net.h"
#include "codec/mac.h"
#include "message/cell_access.h"
#include "message/cell_text.h"
#include "message/describe.h"

// clang-format off
#define TRANPAK_CALLS(X)                                                                                      \
    X(SetCell, TpSetCell, (int field, const void *value), SetCell(x.mesg, field, value))                      \
    X(GetCell, TpGetCell, (int field, void *out), GetCell(x.mesg, field, out))                                \
    X(GetCellType, TpGetCellType, (int field), GetCellType(x.mesg, field))                                    \
    X(ResetCell, TpResetCell, (int field), ResetCell(x.mesg, field, TRANPAK_LAST_FIELD))                      \
    X(ResetMesg, TpResetMesg, (), ResetMesg(x.mesg))                                                          \
    X(BackupMesg, TpBackupMesg, (), BackupMesg(x.mesg))                                                       \
    X(RestoreMesg, TpRestoreMesg, (), RestoreMesg(x.mesg))                                                    \
    X(CheckMesgMac, TpCheckMesgMac, (const void *key), CheckMesgMac(x.mesg, x.des, key))           \
    X(SockConnect, TpSockConnect, (const char *host, int port), SockConnect(x.mesg, host, port))         \
    X(SockClose, TpSockClose, (int sock), SockClose(x.mesg, sock))                                       \
    X(SockSendMesg, TpSockSendMesg, (int sock, const void *key), SockSendMesg(x.mesg, x.des, sock, key))\
    X(SockRecvMesg, TpSockRecvMesg, (int sock TRANPAK_DEFAULT_ONLY(, int)), SockRecvMesg(x.mesg, sock))  \
    X(SockSendFile, TpSockSendFile, (const char *host, int port, const char *local_path, const char *request),  \
      SockSendFile(x.mesg, host, port, local_path, request))                                          \
    X(SockSendBinFile, TpSockSendBinFile,                                                                     \
      (const char *host, int port, const char *local_path, const char *request),                              \
      SockSendBinFile(x.mesg, host, port, local_path, request))                                       \
    X(SockRecvFile, TpSockRecvFile, (const char *host, int port, const char *request, const char *local_path),  \
      SockRecvFile(x.mesg, host, port, request, local_path))                                          \
    X(SockRecvBinFile, TpSockRecvBinFile,                                                                     \
      (const char *host, int port, const char *request, const char *local_path),                              \
      SockRecvBinFile(x.mesg, host, port, request, local_path))                                       \
    X(SetCellText, TpSetCellText, (int field, const char *text), SetCellText(x.mesg, field, text))            \
    X(GetCellText, TpGetCellText, (int field, char *text, int size), GetCellText(x.mesg, field, text, size))  \
    X(DescribeMesg, TpDescribe, (int flags, char *out, int size, int *outLen),                                \
      Describe(x.mesg, flags, out, size, outLen))
// clang-format on

// (a, b) -> TpSession *s, a, b and () -> TpSession *s: the parameters of
// a session function.
#define TRANPAK_SESSION_FIRST(...) (TpSession * s __VA_OPT__(, ) __VA_ARGS__)

#endif
