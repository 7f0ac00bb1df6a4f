/*
 * tranpak: ISO 8583-style message library.
 *
 * The whole public face of the library: seventeen functions with the C
 * calling convention. Every function returns 0 on success and -1 on failure
 * (SockConnect returns a socket handle or -1; GetCellType returns a type
 * code). The reason for every failure is one line in the error log named by
 * the settings file; GetLastErrMesg, below the seventeen, hands the first
 * such line of the most recent call to the program as well.
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

/*
 * Beyond the seventeen: the reason for the last failure, without reading
 * the error log. GetLastErrMesg returns the category of the first failure
 * reported during the most recent call of any function above (0 when that
 * call reported none) and copies that failure's log text, without the
 * time stamp, into text (cut to fit, always NUL-terminated when size > 0;
 * nothing is copied when text is NULL or size <= 0). It changes nothing.
 */
typedef enum ErrCategory {
    TRANPAK_ERR_NONE = 0,         /* the call reported no failure */
    TRANPAK_ERR_SETTINGS = 1,     /* settings file or field definition file */
    TRANPAK_ERR_ARGUMENT = 2,     /* a caller's argument or field value */
    TRANPAK_ERR_CONNECT = 3,      /* name lookup, connection or close */
    TRANPAK_ERR_TIME_LIMIT = 4,   /* a [Com Timeout] limit passed */
    TRANPAK_ERR_PEER_CLOSED = 5,  /* the peer closed, or a frame came or went short */
    TRANPAK_ERR_MALFORMED = 6,    /* a received frame breaks its format */
    TRANPAK_ERR_MAC = 7,          /* the received MAC is missing or wrong */
    TRANPAK_ERR_LOCAL_FILE = 8,   /* a local file cannot be opened, written or put in place */
    TRANPAK_ERR_HOST_REFUSED = 9  /* the host ended a file transfer with '3' */
} ErrCategory;

TRANPAK_API int TRANPAK_CALL GetLastErrMesg(char *text, int size);

#ifdef __cplusplus
}
#endif

#endif /* TRANPAK_H */
