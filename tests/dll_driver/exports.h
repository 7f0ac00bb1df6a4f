/*
 * The exported functions of tranpak.dll as an application that loads the
 * DLL at run time declares them: return type, name and parameters, written
 * from include/tranpak.h. Each becomes a __cdecl function-pointer type and
 * a GetProcAddress look-up in the driver. One line per export.
 */
#ifndef TRANPAK_DLL_DRIVER_EXPORTS_H
#define TRANPAK_DLL_DRIVER_EXPORTS_H

#include <stddef.h>

/* A session is memory of TpSessionSize() bytes, aligned for any scalar;
   the driver hands the functions a pointer to it, as a program in a
   language that cannot read the header would. */
struct TpSettings {
    int traceFlag;
    const char *errFile, *bmpFile, *ctraceFile;
    int connectLimit, sendLimit, recvLimit, transferLimit;
};
struct TpCellDef {
    char name[30];
    int type, maxlen, varlen, used;
};
struct TpError {
    int size, category, field, offset;
    char text[256];
};
struct TpTlvItem {
    int tag, depth, constructed, offset, valueOffset, valueLen;
};

#define TRANPAK_EXPORTS(X)                                                                                             \
  X(int, Init8583, (void))                                                                                             \
  X(int, SetCell, (int field, const void *value))                                                                      \
  X(int, GetCell, (int field, void *out))                                                                              \
  X(int, GetCellType, (int field))                                                                                     \
  X(int, ResetCell, (int field))                                                                                       \
  X(int, ResetMesg, (void))                                                                                            \
  X(int, BackupMesg, (void))                                                                                           \
  X(int, RestoreMesg, (void))                                                                                          \
  X(int, CheckMesgMac, (const void *key))                                                                              \
  X(int, SockConnect, (const char *host, int port))                                                                    \
  X(int, SockClose, (int sock))                                                                                        \
  X(int, SockSendMesg, (int sock, const void *key))                                                                    \
  X(int, SockRecvMesg, (int sock, int unused))                                                                         \
  X(int, SockSendFile, (const char *host, int port, const char *local_path, const char *request))                      \
  X(int, SockSendBinFile, (const char *host, int port, const char *local_path, const char *request))                   \
  X(int, SockRecvFile, (const char *host, int port, const char *request, const char *local_path))                      \
  X(int, SockRecvBinFile, (const char *host, int port, const char *request, const char *local_path))                   \
  X(int, GetLastErrMesg, (char *text, int size))                                                                       \
  X(size_t, TpSessionSize, (void))                                                                                     \
  X(int, TpInit8583, (void *s, const char *settingsFile))                                                              \
  X(int, TpInit8583With, (void *s, const struct TpSettings *settings))                                                 \
  X(int, TpWipe, (void *s))                                                                                            \
  X(int, TpSetCell, (void *s, int field, const void *value))                                                           \
  X(int, TpGetCell, (void *s, int field, void *out))                                                                   \
  X(int, TpGetCellType, (void *s, int field))                                                                          \
  X(int, TpResetCell, (void *s, int field))                                                                            \
  X(int, TpResetMesg, (void *s))                                                                                       \
  X(int, TpBackupMesg, (void *s))                                                                                      \
  X(int, TpRestoreMesg, (void *s))                                                                                     \
  X(int, TpCheckMesgMac, (void *s, const void *key))                                                                   \
  X(int, TpSockConnect, (void *s, const char *host, int port))                                                         \
  X(int, TpSockClose, (void *s, int sock))                                                                             \
  X(int, TpSockSendMesg, (void *s, int sock, const void *key))                                                         \
  X(int, TpSockRecvMesg, (void *s, int sock))                                                                          \
  X(int, TpSockSendFile, (void *s, const char *host, int port, const char *local_path, const char *request))           \
  X(int, TpSockSendBinFile, (void *s, const char *host, int port, const char *local_path, const char *request))        \
  X(int, TpSockRecvFile, (void *s, const char *host, int port, const char *request, const char *local_path))           \
  X(int, TpSockRecvBinFile, (void *s, const char *host, int port, const char *request, const char *local_path))        \
  X(int, TpGetLastErrMesg, (void *s, char *text, int size))                                                            \
  X(int, TpGetCellDef, (void *s, int field, struct TpCellDef *def))                                                    \
  X(int, TpGetBitmap, (void *s, unsigned char bitmap[8]))                                                              \
  X(int, TpPackMesg, (void *s, const void *key, unsigned char *frame, int size, int *frameLen))                        \
  X(int, TpUnpackMesg, (void *s, const unsigned char *frame, int frameLen))                                            \
  X(int, TpSetCellText, (void *s, int field, const char *text))                                                        \
  X(int, TpGetCellText, (void *s, int field, char *text, int size))                                                    \
  X(int, TpDescribe, (void *s, int flags, char *out, int size, int *outLen))                                           \
  X(int, TpShowValue, (int field, int flags, const char *value, int len, char *out, int size, int *outLen))            \
  X(int, TpGetLastError, (void *s, struct TpError *err))                                                               \
  X(int, SetCellText, (int field, const char *text))                                                                   \
  X(int, GetCellText, (int field, char *text, int size))                                                               \
  X(int, DescribeMesg, (int flags, char *out, int size, int *outLen))                                                  \
  X(int, GetLastErrInfo, (struct TpError * err))                                                                       \
  X(int, TpMac,                                                                                                        \
    (int algorithm, int padding, const void *key, int keyLen, const void *data, int dataLen, unsigned char *mac,       \
     int macLen))                                                                                                      \
  X(int, TpKeyCheckValue, (int method, int algorithm, const void *key, int keyLen, unsigned char *kcv, int kcvLen))    \
  X(int, TpSetMacAlgorithm, (void *s, int algorithm, int padding, int keyLen))                                         \
  X(int, TpSetMacCovers, (void *s, int covers))                                                                        \
  X(int, TpGetMacAlgorithm, (void *s, int *algorithm, int *padding, int *keyLen, int *covers))                         \
  X(int, TpSockExchange, (void *s, int sock, const void *key))                                                         \
  X(int, TpSetCellTexts, (void *s, const char *block))                                                                 \
  X(int, TpGetCellTexts, (void *s, char *out, int size, int *outLen))                                                  \
  X(int, TpPinBlock,                                                                                                   \
    (int format, const void *key, int keyLen, const char *pin, const char *pan, unsigned char *block))                 \
  X(int, TpPinBlockWithFill,                                                                                           \
    (int format, const void *key, int keyLen, const char *pin, const char *pan, const unsigned char *fill,             \
     unsigned char *block))                                                                                            \
  X(int, TpPinFromBlock,                                                                                               \
    (int format, const void *key, int keyLen, const unsigned char *block, const char *pan, char *pin, int pinSize))    \
  X(int, TpPinCheck,                                                                                                   \
    (int format, const void *key, int keyLen, const unsigned char *block, const char *pan, const char *pin))           \
  X(int, TpDukptInitialKey,                                                                                            \
    (int kind, const void *bdk, int bdkLen, const void *ksn, int ksnLen, unsigned char *key, int keyLen))              \
  X(int, TpDukptDeriveKey,                                                                                             \
    (int kind, const void *bdk, int bdkLen, const void *ksn, int ksnLen, int usage, int keyType, unsigned char *key,   \
     int keyLen))                                                                                                      \
  X(int, TpDukptTerminalLoad, (void *t, int kind, const void *ik, int ikLen, const void *ksn, int ksnLen))             \
  X(int, TpDukptTerminalKey,                                                                                           \
    (void *t, int usage, int keyType, unsigned char *key, int keyLen, unsigned char *ksn, int ksnLen))                 \
  X(int, TpDukptTerminalAdvance, (void *t))                                                                            \
  X(int, TpDukptTerminalWipe, (void *t))                                                                               \
  X(int, TpTlvCheck, (const void *data, int len, int *faultOffset, struct TpError *err))                               \
  X(int, TpTlvItems,                                                                                                   \
    (const void *data, int len, struct TpTlvItem *items, int maxItems, int *count, struct TpError *err))               \
  X(int, TpTlvFind,                                                                                                    \
    (const void *data, int len, int tag, unsigned char *value, int size, int *valueLen, struct TpError *err))          \
  X(int, TpTlvAppend,                                                                                                  \
    (unsigned char *buf, int size, int *used, int tag, const void *value, int valueLen, struct TpError *err))          \
  X(int, TpTlvOpen, (unsigned char *buf, int size, int *used, int tag, int *mark, struct TpError *err))                \
  X(int, TpTlvClose, (unsigned char *buf, int size, int *used, int mark, struct TpError *err))                         \
  X(int, TpTlvDescribe, (const void *data, int len, int flags, char *out, int size, int *outLen, struct TpError *err)) \
  X(int, TpSetWireFormat, (void *s, const char *key, const char *value))                                               \
  X(int, TpDescribeCell, (void *s, int field, int flags, char *out, int size, int *outLen))

#define TRANPAK_POINTER_TYPE(ret, name, params) typedef ret(__cdecl *name##_fn) params;
TRANPAK_EXPORTS(TRANPAK_POINTER_TYPE)
#undef TRANPAK_POINTER_TYPE

/* The looked-up functions, one member per export. */
struct Tranpak {
#define TRANPAK_MEMBER(ret, name, params) name##_fn name;
    TRANPAK_EXPORTS(TRANPAK_MEMBER)
#undef TRANPAK_MEMBER
};

#endif
