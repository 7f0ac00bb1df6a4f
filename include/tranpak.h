/*
 * tranpak: ISO 8583-style message library.
 *
 * The whole public face of the library: seventeen functions with the C
 * calling convention, GetLastErrMesg, and below them the session
 * functions, which do the same on a session the caller owns. Every function returns 0 on success and -1 on failure
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

#include <stddef.h>

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

/*
 * Sessions. The eighteen functions above work on one process-wide default
 * session. A TpSession holds a message of its own: its field layout,
 * settings, backup, file-transfer frame and last error, so a program may
 * keep any number of messages at once. The caller owns the storage (static,
 * a thread's stack, memory of its own), aligned as a TpSession is: storage
 * that is not is refused with -1 by every function. The library starts no
 * thread. A session must be initialised with TpInit8583 or TpInit8583With
 * before any other use. Different sessions may be used by different threads
 * at once (the default session counts as one session); one session is used
 * by one thread at a time.
 *
 * Storage must be all zero (static storage, memset, or TpWipe) before its
 * first TpInit8583 or TpInit8583With. The library tells a never
 * initialised session from a ready one by a mark inside it: all-zero
 * storage has no mark and is refused (nothing logged), but storage that
 * held a session and was neither wiped nor initialised again still carries
 * the mark and the old message, card number included, and cannot be told
 * from a live session. Wipe a session with TpWipe when done with it.
 *
 * Each Tp function does what its namesake above does, with the same
 * arguments after the session, the same results, messages, traces and
 * states, on that session. A NULL or misaligned session is refused with -1,
 * as is a session that was never initialised (then nothing is logged).
 *
 * Memory: the library's own code never allocates. The C library allocates
 * inside only these calls: SockConnect with a host name rather than a
 * dotted address (the system's name lookup), the first line logged or
 * traced in a process (the local time zone is loaded once), and the four
 * file functions (the local file is read or written through the C
 * library's buffered streams). Initialisation, the field functions,
 * packing, unpacking, the MAC, the exchange functions and SockConnect to a
 * dotted address allocate nothing.
 */
#define TP_SESSION_SIZE 73728
/* 32-bit Microsoft C places 8-byte types on the stack at 4-byte boundaries
   unless told otherwise, and the library refuses such storage: a session
   declared on its stack is asked for 8, as the type needs. Other
   compilers align it by its members already. */
#if defined(_MSC_VER) && defined(_M_IX86)
#  define TP_SESSION_ALIGN __declspec(align(8))
#else
#  define TP_SESSION_ALIGN
#endif
typedef struct TP_SESSION_ALIGN TpSession {
    union {
        unsigned char bytes[TP_SESSION_SIZE];
        long long align_integer;
        double align_real;
        void *align_pointer;
    } opaque; /* private */
} TpSession;

/* What TpInit8583With takes instead of a settings file. */
typedef struct TpSettings {
    int traceFlag;            /* nonzero: trace every packet (GCODEFLAG=1) */
    const char *errFile;      /* error log; NULL: "../run/errlog.txt" */
    const char *bmpFile;      /* field definition file; NULL: "../etc/bitmap.txt" */
    const char *ctraceFile;   /* trace file; NULL: "../run/ctrace.txt" */
    int connectLimit;         /* [Com Timeout] limits in seconds; 0: none */
    int sendLimit;
    int recvLimit;
    int transferLimit;
} TpSettings;

/* A field's definition, as TpGetCellDef reports it. */
typedef struct TpCellDef {
    char name[30];  /* from the definition file, NUL-terminated */
    int type;       /* CellType */
    int maxlen;     /* fixed length, or greatest variable length */
    int varlen;     /* digits of the length prefix; 0 for fixed length */
    int used;       /* 1 while the field holds a value */
} TpCellDef;

/* sizeof(TpSession), for languages that cannot read this header. */
TRANPAK_API size_t TRANPAK_CALL TpSessionSize(void);

/* Init8583 reading the named settings file; NULL: what Init8583 reads. */
TRANPAK_API int TRANPAK_CALL TpInit8583(TpSession *s, const char *settingsFile);
/* The same with the settings given. Paths over 159 characters, negative
   limits and a NULL settings are refused; limits above 86400 are 86400.
   The settings are checked whole before anything is taken: a refusal
   leaves a ready session exactly as it was and is logged in its log. */
TRANPAK_API int TRANPAK_CALL TpInit8583With(TpSession *s, const TpSettings *settings);
/* Overwrites the whole session with zeros, keys and card data included,
   leaving it as before TpInit8583. */
TRANPAK_API int TRANPAK_CALL TpWipe(TpSession *s);

TRANPAK_API int TRANPAK_CALL TpSetCell(TpSession *s, int field, const void *value);
TRANPAK_API int TRANPAK_CALL TpGetCell(TpSession *s, int field, void *out);
TRANPAK_API int TRANPAK_CALL TpGetCellType(TpSession *s, int field);
TRANPAK_API int TRANPAK_CALL TpResetCell(TpSession *s, int field);
TRANPAK_API int TRANPAK_CALL TpResetMesg(TpSession *s);
TRANPAK_API int TRANPAK_CALL TpBackupMesg(TpSession *s);
TRANPAK_API int TRANPAK_CALL TpRestoreMesg(TpSession *s);
TRANPAK_API int TRANPAK_CALL TpCheckMesgMac(TpSession *s, const void *key);
TRANPAK_API int TRANPAK_CALL TpSockConnect(TpSession *s, const char *host, int port);
TRANPAK_API int TRANPAK_CALL TpSockClose(TpSession *s, int sock);
TRANPAK_API int TRANPAK_CALL TpSockSendMesg(TpSession *s, int sock, const void *key);
TRANPAK_API int TRANPAK_CALL TpSockRecvMesg(TpSession *s, int sock);
TRANPAK_API int TRANPAK_CALL TpSockSendFile(TpSession *s, const char *host, int port, const char *local_path, const char *request);
TRANPAK_API int TRANPAK_CALL TpSockSendBinFile(TpSession *s, const char *host, int port, const char *local_path, const char *request);
TRANPAK_API int TRANPAK_CALL TpSockRecvFile(TpSession *s, const char *host, int port, const char *request, const char *local_path);
TRANPAK_API int TRANPAK_CALL TpSockRecvBinFile(TpSession *s, const char *host, int port, const char *request, const char *local_path);
TRANPAK_API int TRANPAK_CALL TpGetLastErrMesg(TpSession *s, char *text, int size);

/* Field 1 to 64: its definition into *def; -1 outside or for a NULL def. */
TRANPAK_API int TRANPAK_CALL TpGetCellDef(TpSession *s, int field, TpCellDef *def);
/* The bitmap of the message last packed or received. */
TRANPAK_API int TRANPAK_CALL TpGetBitmap(TpSession *s, unsigned char bitmap[8]);

/* The codec without a socket. TpPackMesg writes exactly the frame
   TpSockSendMesg would send into frame (size bytes of room; a frame that
   does not fit is refused) and its length into *frameLen; nothing is
   traced. TpUnpackMesg does to the session what TpSockRecvMesg does after
   reading that frame, and refuses a frameLen other than the frame's own. */
TRANPAK_API int TRANPAK_CALL TpPackMesg(TpSession *s, const void *key, unsigned char *frame, int size, int *frameLen);
TRANPAK_API int TRANPAK_CALL TpUnpackMesg(TpSession *s, const unsigned char *frame, int frameLen);

#ifdef __cplusplus
}
#endif

#endif /* TRANPAK_H */
