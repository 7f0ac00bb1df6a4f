/*
 * The exported functions of tranpak.dll as an application that loads the
 * DLL at run time declares them: return type, name and parameters, written
 * from include/tranpak.h. Each becomes a __cdecl function-pointer type and
 * a GetProcAddress look-up in the driver. One line per export.
 */
#ifndef TRANPAK_DLL_DRIVER_EXPORTS_H
#define TRANPAK_DLL_DRIVER_EXPORTS_H

#define TRANPAK_EXPORTS(X)                                                                        \
    X(int, Init8583, (void))                                                                      \
    X(int, SetCell, (int field, const void *value))                                               \
    X(int, GetCell, (int field, void *out))                                                       \
    X(int, GetCellType, (int field))                                                              \
    X(int, ResetCell, (int field))                                                                \
    X(int, ResetMesg, (void))                                                                     \
    X(int, BackupMesg, (void))                                                                    \
    X(int, RestoreMesg, (void))                                                                   \
    X(int, CheckMesgMac, (const void *key))                                                       \
    X(int, SockConnect, (const char *host, int port))                                             \
    X(int, SockClose, (int sock))                                                                 \
    X(int, SockSendMesg, (int sock, const void *key))                                             \
    X(int, SockRecvMesg, (int sock, int unused))                                                  \
    X(int, SockSendFile, (const char *host, int port, const char *local_path, const char *request)) \
    X(int, SockSendBinFile, (const char *host, int port, const char *local_path, const char *request)) \
    X(int, SockRecvFile, (const char *host, int port, const char *request, const char *local_path)) \
    X(int, SockRecvBinFile, (const char *host, int port, const char *request, const char *local_path)) \
    X(int, GetLastErrMesg, (char *text, int size))

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
