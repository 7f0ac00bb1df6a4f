// Exported functions whose work is not built yet: each refuses with -1.
#include "tranpak.h"

extern "C" {
TRANPAK_API int TRANPAK_CALL SockConnect(const char *, int) { return -1; }
TRANPAK_API int TRANPAK_CALL SockClose(int) { return -1; }
TRANPAK_API int TRANPAK_CALL SockSendMesg(int, const void *) { return -1; }
TRANPAK_API int TRANPAK_CALL SockRecvMesg(int, int) { return -1; }
TRANPAK_API int TRANPAK_CALL SockSendFile(const char *, int, const char *, const char *) { return -1; }
TRANPAK_API int TRANPAK_CALL SockSendBinFile(const char *, int, const char *, const char *) { return -1; }
TRANPAK_API int TRANPAK_CALL SockRecvFile(const char *, int, const char *, const char *) { return -1; }
TRANPAK_API int TRANPAK_CALL SockRecvBinFile(const char *, int, const char *, const char *) { return -1; }
}
