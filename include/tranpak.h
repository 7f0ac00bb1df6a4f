/*
 * tranpak: ISO 8583-style message library.
 *
 * The whole public face of the library: seventeen functions with the C
 * calling convention. Every function returns 0 on success and -1 on failure
 * (SockConnect returns a socket handle or -1; GetCellType returns a type
 * code). The reason for every failure is one line in the error log named by
 * the settings file.
 */
#ifndef TRANPAK_H
#define TRANPAK_H

#if defined(_WIN32)
#  if defined(TRANPAK_BUILD)
#    define TRANPAK_API __declspec(dllexport)
#  elif defined(TRANPAK_STATIC)
#    define TRANPAK_API
#  else
#    define TRANPAK_API __declspec(dllimport)
#  endif
#  define TRANPAK_CALL __cdecl
#else
#  define TRANPAK_API __attribute__((visibility("default")))
#  define TRANPAK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Field types, as named in the field definition file. */
typedef enum CellType {
    CELL_ANS = 0, /* any characters, text */
    CELL_NI = 1,  /* integer; SetCell/GetCell take an int */
    CELL_NF = 2,  /* amount in hundredths; SetCell/GetCell take a double */
    CELL_A = 3,   /* letters and white space */
    CELL_AN = 4,  /* letters, digits and white space */
    CELL_N = 5,   /* digits with an optional leading sign */
    CELL_B = 6    /* raw bytes, exactly maxlen of them */
} CellType;

/* Initialisation: settings file, field definition file, empty frame. */
TRANPAK_API int TRANPAK_CALL Init8583(void);

/* Field access. Field 0 is the 4-character message type. */
TRANPAK_API int TRANPAK_CALL SetCell(int field, const void *value);
TRANPAK_API int TRANPAK_CALL GetCell(int field, void *out);
TRANPAK_API int TRANPAK_CALL GetCellType(int field);
TRANPAK_API int TRANPAK_CALL ResetCell(int field);
TRANPAK_API int TRANPAK_CALL ResetMesg(void);
TRANPAK_API int TRANPAK_CALL BackupMesg(void);
TRANPAK_API int TRANPAK_CALL RestoreMesg(void);

/* Verifies the MAC of the message last received, under an 8-byte key. */
TRANPAK_API int TRANPAK_CALL CheckMesgMac(const void *key);

/* Message exchange over TCP. */
TRANPAK_API int TRANPAK_CALL SockConnect(const char *host, int port);
TRANPAK_API int TRANPAK_CALL SockClose(int sock);
TRANPAK_API int TRANPAK_CALL SockSendMesg(int sock, const void *key);
TRANPAK_API int TRANPAK_CALL SockRecvMesg(int sock, int unused);

/* File transfer, one connection per call. */
TRANPAK_API int TRANPAK_CALL SockSendFile(const char *host, int port, const char *local_path, const char *request);
TRANPAK_API int TRANPAK_CALL SockSendBinFile(const char *host, int port, const char *local_path, const char *request);
TRANPAK_API int TRANPAK_CALL SockRecvFile(const char *host, int port, const char *request, const char *local_path);
TRANPAK_API int TRANPAK_CALL SockRecvBinFile(const char *host, int port, const char *request, const char *local_path);

#ifdef __cplusplus
}
#endif

#endif /* TRANPAK_H */
