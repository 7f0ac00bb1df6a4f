/*
 * tranpak: ISO 8583-style message library.
 *
 * The whole public face of the library: seventeen functions with the C
 * calling convention, GetLastErrMesg, and below them the session
 * functions, which do the same on a session the caller owns. Every function returns 0 on success and -1 on failure
 * (SockConnect returns a socket handle or -1; GetCellType returns a type
 * code). The reason for every failure is one line in the error log named by
 * the settings file; GetLastErrMesg, below the seventeen, hands the first
 * such line of the most recent call to the program as well. No line shows a
 * card number: the value of a card-data field (2, 14, 35, 36, 45, 52) shows
 * only its last four characters, as does every card number however
 * written: a run of 13 or more digits, and digits in groups separated by
 * a blank or '-' that add up to 13 to 19 ("**** **** **** 0119").
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

/* Field types, as named in the definition file. */
typedef enum CellType {
    CELL_ANS = 0, /* any characters, text */
    CELL_NI = 1,  /* integer; SetCell/GetCell take an int */
    CELL_NF = 2,  /* amount in hundredths; SetCell/GetCell take a double */
    CELL_A = 3,   /* letters and white space */
    CELL_AN = 4,  /* letters, digits and white space */
    CELL_N = 5,   /* digits with an optional leading sign */
    CELL_B = 6,   /* raw bytes: exactly maxlen of them, or (variable, as
                     "B 255,3") up to maxlen behind a prefix that counts
                     bytes, set and read as text only */
    CELL_Z = 7    /* track 2 data: digits and at most one separator, '='
                     or 'D'; card data wherever it is */
} CellType;

/* Initialisation: settings file, definition file, empty frame. */
TRANPAK_API int TRANPAK_CALL Init8583(void);

/* Field access. Field 0 is the 4-character message type. */
TRANPAK_API int TRANPAK_CALL SetCell(int field, const void *value);
TRANPAK_API int TRANPAK_CALL GetCell(int field, void *out);
TRANPAK_API int TRANPAK_CALL GetCellType(int field);
TRANPAK_API int TRANPAK_CALL ResetCell(int field);
TRANPAK_API int TRANPAK_CALL ResetMesg(void);
TRANPAK_API int TRANPAK_CALL BackupMesg(void);
TRANPAK_API int TRANPAK_CALL RestoreMesg(void);

/* Verifies the MAC of the message last received, under an 8-byte key
   (keyLen bytes of the [MAC] section, when the settings file has one),
   comparing without stopping at the first wrong byte. The MAC is computed
   aside: field 64 keeps the MAC received, whether the check passes or
   fails. */
TRANPAK_API int TRANPAK_CALL CheckMesgMac(const void *key);

/* Message exchange over TCP. */
TRANPAK_API int TRANPAK_CALL SockConnect(const char *host, int port);
TRANPAK_API int TRANPAK_CALL SockClose(int sock);
/* key: 8 bytes, or KEYLEN bytes under a [MAC] section (TpMac below). */
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
    TRANPAK_ERR_NONE = 0,        /* the call reported no failure */
    TRANPAK_ERR_SETTINGS = 1,    /* settings file or definition file */
    TRANPAK_ERR_ARGUMENT = 2,    /* a caller's argument or field value */
    TRANPAK_ERR_CONNECT = 3,     /* name lookup, connection or close */
    TRANPAK_ERR_TIME_LIMIT = 4,  /* a [Com Timeout] limit passed */
    TRANPAK_ERR_PEER_CLOSED = 5, /* the peer closed, or a frame came or went short */
    TRANPAK_ERR_MALFORMED = 6,   /* a received frame breaks its format */
    TRANPAK_ERR_MAC = 7,         /* the received MAC is missing or wrong */
    TRANPAK_ERR_LOCAL_FILE = 8,  /* a local file cannot be opened, written or put in place */
    TRANPAK_ERR_HOST_REFUSED = 9 /* the host ended a file transfer with '3' */
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
#define TP_SESSION_SIZE 131072
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
    int traceFlag;          /* nonzero: trace every packet (GCODEFLAG=1) */
    const char *errFile;    /* error log; NULL: "../run/errlog.txt" */
    const char *bmpFile;    /* the definition file; NULL: "../etc/bitmap.txt" */
    const char *ctraceFile; /* trace file; NULL: "../run/ctrace.txt" */
    int connectLimit;       /* [Com Timeout] limits in seconds; 0: none */
    int sendLimit;
    int recvLimit;
    int transferLimit;
} TpSettings;

/* A field's definition, as TpGetCellDef reports it. */
typedef struct TpCellDef {
    char name[30]; /* from the definition file, NUL-terminated */
    int type;      /* CellType */
    int maxlen;    /* fixed length, or greatest variable length */
    int varlen;    /* digits of the length prefix; 0 for fixed length */
    int used;      /* 1 while the field holds a value */
} TpCellDef;

/* sizeof(TpSession), for languages that cannot read this header. */
TRANPAK_API size_t TRANPAK_CALL TpSessionSize(void);

/* Init8583 reading the named settings file; NULL: what Init8583 reads.
   Only the built-in settings file may be missing (the defaults then
   apply): a file named here or by TRANPAK_SETTINGS that is not there
   fails, "tranpak: settings file cannot be read (No such file or
   directory): PATH". */
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
/* TpResetCell reaches fields 1 to 128, the other twins 1 to 64 as their
   namesakes. */
TRANPAK_API int TRANPAK_CALL TpResetCell(TpSession *s, int field);
TRANPAK_API int TRANPAK_CALL TpResetMesg(TpSession *s);
TRANPAK_API int TRANPAK_CALL TpBackupMesg(TpSession *s);
TRANPAK_API int TRANPAK_CALL TpRestoreMesg(TpSession *s);
/* key: 8 bytes, or the keyLen of TpSetMacAlgorithm / [MAC] KEYLEN. */
TRANPAK_API int TRANPAK_CALL TpCheckMesgMac(TpSession *s, const void *key);
TRANPAK_API int TRANPAK_CALL TpSockConnect(TpSession *s, const char *host, int port);
TRANPAK_API int TRANPAK_CALL TpSockClose(TpSession *s, int sock);
/* key: 8 bytes, or the keyLen of TpSetMacAlgorithm / [MAC] KEYLEN. */
TRANPAK_API int TRANPAK_CALL TpSockSendMesg(TpSession *s, int sock, const void *key);
TRANPAK_API int TRANPAK_CALL TpSockRecvMesg(TpSession *s, int sock);
TRANPAK_API int TRANPAK_CALL TpSockSendFile(TpSession *s, const char *host, int port, const char *local_path,
                                            const char *request);
TRANPAK_API int TRANPAK_CALL TpSockSendBinFile(TpSession *s, const char *host, int port, const char *local_path,
                                               const char *request);
TRANPAK_API int TRANPAK_CALL TpSockRecvFile(TpSession *s, const char *host, int port, const char *request,
                                            const char *local_path);
TRANPAK_API int TRANPAK_CALL TpSockRecvBinFile(TpSession *s, const char *host, int port, const char *request,
                                               const char *local_path);
TRANPAK_API int TRANPAK_CALL TpGetLastErrMesg(TpSession *s, char *text, int size);

/* Field 1 to 128: its definition into *def. Returns 0 for a field the
   definitions list and 1 for one they do not (it has no length: maxlen and
   varlen 0, type 0 as for ANS; SetCell still stores text in it, but it can
   never travel), -1 outside 1 to 128 or for a NULL def. */
TRANPAK_API int TRANPAK_CALL TpGetCellDef(TpSession *s, int field, TpCellDef *def);
/* The bitmap of the message last packed or received. */
TRANPAK_API int TRANPAK_CALL TpGetBitmap(TpSession *s, unsigned char bitmap[8]);

/* The codec without a socket. TpPackMesg writes exactly the frame
   TpSockSendMesg would send into frame (size bytes of room; a frame that
   does not fit is refused) and its length into *frameLen; nothing is
   traced. TpUnpackMesg does to the session what TpSockRecvMesg does after
   reading that frame, and refuses a frameLen other than the frame's own.
   key: 8 bytes, or the keyLen of TpSetMacAlgorithm / [MAC] KEYLEN. */
TRANPAK_API int TRANPAK_CALL TpPackMesg(TpSession *s, const void *key, unsigned char *frame, int size, int *frameLen);
TRANPAK_API int TRANPAK_CALL TpUnpackMesg(TpSession *s, const unsigned char *frame, int frameLen);

/*
 * Text access, description and errors as values. Unlike SetCell and
 * GetCell, these take and give every type as text with the caller's room
 * stated, and their log lines name field numbers (field 2 is 2). Each
 * refusal is -1 with one log line, as everywhere.
 */

/* Sets field 0 to 128 from text, by the field's type (fields 65 to 128,
   those of a secondary bitmap, are reached only by the text functions):
     field 0   the message type, exactly 4 characters (as SetCell);
     ANS, A, AN, N   as SetCell: trimmed, then checked for A, AN and N;
     NI        a decimal integer, optional sign, -2147483648 to 2147483647,
               nothing else (no blanks);
     NF        an amount: optional sign, digits, optionally a point and one
               or two decimals ("12.50", "12.5", "12", "-0.07"); stored as
               SetCell stores the same amount ("1250"); three decimals are
               refused, not rounded;
     B         exactly 2 x maxlen hexadecimal digits, either case; a
               variable B two digits a byte, 0 to maxlen bytes;
     Z         track 2 data, trimmed: digits and at most one separator,
               '=' or 'D'; a fixed Z exactly maxlen characters.
   Texts over 399 characters, a field the definitions do not list (see
   TpGetCellDef), a number outside 0 to 128 and a NULL text are refused,
   and so is a value longer than its field can travel (as stored: a fixed
   field's maxlen; a variable field's maxlen, or what its length prefix
   can count when that is less; NI and NF with their sign), the log line
   naming the field and its maximum:
       tranpak: TpSetCellText() field 41: 9 characters, the field holds 8
       tranpak: TpSetCellText() field 4: 99999999999.99 needs 13 digits,
       the field holds 12
   A refused text leaves the field as it was. */
TRANPAK_API int TRANPAK_CALL TpSetCellText(TpSession *s, int field, const char *text);

/* The value of field 0 to 128 as text with its NUL into text, writing at
   most size bytes: NI as a decimal integer ("-12"), NF as an amount with a
   point and two decimals ("12.50", "-0.07"), B as upper-case hexadecimal
   (2 x maxlen digits; a variable B as many bytes as it holds), Z, the
   others and field 0 as stored (a received fixed
   field keeps its fill). A value that does not fit with its NUL is refused
   and nothing is written; the log line gives the size needed, which is at
   most 801 (400 bytes of B). A field not in use, a number outside 0 to 128
   and a NULL text are refused, as is a received NI or NF value that is
   no number of its type (no digit, or an NI beyond 32 bits; TpDescribe
   shows it as received). */
TRANPAK_API int TRANPAK_CALL TpGetCellText(TpSession *s, int field, char *text, int size);

/* Flags of TpDescribe and TpShowValue. */
#define TP_DESCRIBE_JSON 1     /* one JSON object instead of text */
#define TP_DESCRIBE_UNMASKED 2 /* card data in clear */
#define TP_SHOW_MASKED 4       /* TpShowValue: mask whatever the field */

/* The current message, built or received: its type and every field in use
   with number, name, type and value (as TpGetCellText gives it), into out
   with a NUL. Text by default, aligned for a person:
       type 0200
       field  name      type  value
           2  PAN       N     ************0119
           4  AMOUNT    NF    12.50
   With TP_DESCRIBE_JSON one JSON object, field numbers as keys and every
   value a string, with no line feed:
       {"type": "0200", "fields": {"2": {"name": "PAN", "type": "N",
        "value": "************0119"}, "4": {...}}}
   Masking: the values of the card-data fields 2 (card number), 14
   (expiry), 35, 36 (tracks 2 and 3), 45 (track 1) and 52 (PIN block), and
   of every field of type Z (track 2 data) whatever its number, show
   only their last four characters, the rest as '*' (four or fewer: all
   '*'), unless TP_DESCRIBE_UNMASKED is given. Then, in every value, name
   and type, each byte below 0x20, 0x7F and each byte from 0x80 up shows as
   \xHH and a backslash as two. A field in use that the definitions do not
   list shows the type "undefined".
   *outLen (when not NULL) receives the description's length without the
   NUL, also when it does not fit: out needs *outLen + 1 bytes. A call
   with out NULL, size 0 and outLen given only measures: it returns 0 and
   logs nothing. Otherwise a description that does not fit is refused with
   nothing written; unknown flags are refused. */
TRANPAK_API int TRANPAK_CALL TpDescribe(TpSession *s, int flags, char *out, int size, int *outLen);

/* The same rule for one value of len bytes, without a session: masked when
   field is a card-data field (or whatever the field with TP_SHOW_MASKED,
   never with TP_DESCRIBE_UNMASKED), then escaped, into out with a NUL.
   *outLen (when not NULL) receives the length without the NUL. Returns -1,
   logging nothing (there is no session), when it does not fit, for
   unknown or contradicting flags, a negative len or a NULL value. */
TRANPAK_API int TRANPAK_CALL TpShowValue(int field, int flags, const char *value, int len, char *out, int size,
                                         int *outLen);
/* One field's value as TpDescribe shows it in its value column (field 0:
   the type): card data masked unless flags has TP_DESCRIBE_UNMASKED, a
   field defined TLV as its hex with the card data inside it masked, for
   programs that lay out a message their own way. out, size and *outLen as
   TpDescribe takes them (NULL and 0 only measure). -1, with its log line,
   for a field not in use or other flags. */
TRANPAK_API int TRANPAK_CALL TpDescribeCell(TpSession *s, int field, int flags, char *out, int size, int *outLen);

/* The last call's failure as values. The caller sets size to
   sizeof(TpError) of the header it was built with: records of earlier
   headers (which ended after text, TP_ERROR_MIN_SIZE bytes) are still
   filled as far as they go, and a later version may append members. */
typedef struct TpError {
    int size;       /* set by the caller: sizeof(TpError) */
    int category;   /* ErrCategory, as GetLastErrMesg returns it */
    int field;      /* field number 1 to 128, 0 for the message type, -1 when
                       no field is concerned (never a record index) */
    int offset;     /* byte offset in the received frame where the fault
                       lies (0 start byte, 1 length digits, 17 the first
                       field; a field's length prefix or value), -1 where
                       none applies or it is not known */
    char text[256]; /* the log line without its time stamp, NUL-terminated */
    /* Members since the first version of the record: */
    int osError;      /* the system's error number (errno, or the Windows
                         Sockets or Windows error), 0 where none */
    int line;         /* the definition file's line, 0 where none */
    char detail[256]; /* what and where in plain words, NUL-terminated:
                      "connect to 127.0.0.1:5000: Connection refused",
                      "definitions etc/bitmap.txt line 7: type "NQ" is
                      not one of ANS, NI, NF, A, AN, N, B", "settings file
                      run/nope.ini: No such file or directory", "field 4:
                      99999999999.99 needs 13 digits, the field holds 12";
                      where a failure has no more to say, the log line
                      without its "tranpak: ". Masked as the log is; kept
                      here only, not written to the log. */
} TpError;

/* The size of the record before osError, line and detail: the least
   size TpGetLastError takes. */
#define TP_ERROR_MIN_SIZE 272

/* Fills *err with the session's last failure (category 0, field and
   offset -1, osError and line 0 and empty text and detail after a call
   that failed in nothing) and returns the category. Only the members that
   lie wholly within err->size bytes are written: a record of an earlier
   header gets category, field, offset and text. A NULL err or a size
   below TP_ERROR_MIN_SIZE is refused with -1 and nothing written. Like
   GetLastErrMesg it changes nothing and logs nothing. */
TRANPAK_API int TRANPAK_CALL TpGetLastError(TpSession *s, TpError *err);

/* The same four on the default session of the eighteen functions. */
TRANPAK_API int TRANPAK_CALL SetCellText(int field, const char *text);
TRANPAK_API int TRANPAK_CALL GetCellText(int field, char *text, int size);
TRANPAK_API int TRANPAK_CALL DescribeMesg(int flags, char *out, int size, int *outLen);
/* Not GetLastError, which is a Windows function of that name. */
TRANPAK_API int TRANPAK_CALL GetLastErrInfo(TpError *err);

/*
 * Message authentication codes. The library's own MAC (TP_MAC_LEGACY: the
 * covered bytes folded by XOR into one block, then single DES under an
 * 8-byte key) is the default, and the others are opt-in:
 *
 *   algorithm              key bytes    block  padding
 *   TP_MAC_LEGACY          8            8      ignored (zero fill of the fold)
 *   TP_MAC_ISO9797_1_ALG1  8, 16, 24    8      TP_MAC_PAD1 or TP_MAC_PAD2
 *   TP_MAC_ISO9797_1_ALG3  16, 24       8      TP_MAC_PAD1 or TP_MAC_PAD2
 *   TP_MAC_TDES_CMAC       16, 24       8      ignored (CMAC pads itself)
 *   TP_MAC_AES_CMAC        16, 24, 32   16     ignored (CMAC pads itself)
 *
 * ISO/IEC 9797-1 algorithm 1 is the CBC-MAC under DES (8-byte key) or
 * triple DES (16 bytes: K1 K2 K1; 24 bytes: K1 K2 K3). Algorithm 3, the
 * retail MAC, chains with single DES under K1 and then decrypts the last
 * block under K2 and encrypts it under K1 (16 bytes) or K3 (24 bytes). The
 * CMACs are those of NIST SP 800-38B. Padding method 1 fills with zero
 * bytes up to a whole block (an empty text becomes one block of zeros,
 * whole blocks get none); method 2 appends 0x80 and then zero bytes.
 */
typedef enum TpMacAlgorithm {
    TP_MAC_LEGACY = 0,
    TP_MAC_ISO9797_1_ALG1 = 1,
    TP_MAC_ISO9797_1_ALG3 = 3,
    TP_MAC_TDES_CMAC = 4,
    TP_MAC_AES_CMAC = 5
} TpMacAlgorithm;

typedef enum TpMacPadding {
    TP_MAC_PAD1 = 1, /* ISO/IEC 9797-1 padding method 1: zero bytes */
    TP_MAC_PAD2 = 2  /* method 2: 0x80, then zero bytes */
} TpMacPadding;

typedef enum TpKcvMethod {
    TP_KCV_ENCRYPT_ZEROS = 1, /* one all-zero block encrypted under the key */
    TP_KCV_CMAC = 2           /* the CMAC of one all-zero block */
} TpKcvMethod;

/* The MAC of dataLen bytes at data under keyLen bytes at key: its leftmost
   macLen bytes (1 to 8; 1 to 16 for AES-CMAC) into mac. data may be NULL
   when dataLen is 0. Returns 0, or -1 with nothing written for any wrong
   argument (algorithm, padding where it counts, a key length the algorithm
   does not take, lengths, NULL pointers). It takes no session, so it
   logs nothing. */
TRANPAK_API int TRANPAK_CALL TpMac(int algorithm, int padding, const void *key, int keyLen, const void *data,
                                   int dataLen, unsigned char *mac, int macLen);
/* The key check value of keyLen bytes at key, for the block cipher the
   algorithm uses with that key (DES for 8 bytes, triple DES for 16 or 24,
   AES for TP_MAC_AES_CMAC): the leftmost kcvLen bytes (1 to the block size)
   of one zero block encrypted (TP_KCV_ENCRYPT_ZEROS; 3 bytes is the
   customary check value) or of the CMAC of one zero block (TP_KCV_CMAC).
   Refuses what TpMac refuses, with -1 and nothing written or logged. */
TRANPAK_API int TRANPAK_CALL TpKeyCheckValue(int method, int algorithm, const void *key, int keyLen, unsigned char *kcv,
                                             int kcvLen);
/* What field 64's MAC covers (TpSetMacCovers, [MAC] COVERS=).
   TP_MAC_COVERS_MESSAGE: the message from its type to field 64, as it
   travels: the 4 characters of the type, the 8 bytes of the bitmap (the
   bit of field 64 set) and the data area before field 64. The default of
   the standard algorithms.
   TP_MAC_COVERS_DATA: the data area before field 64 only, for hosts that
   MAC that; the type and the bitmap are then not protected. The library's
   own MAC (TP_MAC_LEGACY) always covers this, and only this. */
typedef enum TpMacCovers { TP_MAC_COVERS_MESSAGE = 1, TP_MAC_COVERS_DATA = 2 } TpMacCovers;

/* Field 64 of this session under another algorithm, as the [MAC] section
   of the settings file sets it: from now on TpSockSendMesg, TpPackMesg and
   TpCheckMesgMac read keyLen bytes at their key (8 for TP_MAC_LEGACY) and
   compute the MAC over what the algorithm covers by default (the standard
   algorithms: TP_MAC_COVERS_MESSAGE; TP_MAC_LEGACY: the data area before
   field 64), its leftmost 8 bytes travelling in field 64. padding counts
   for the ISO/IEC 9797-1 algorithms only. A wrong argument is refused with
   -1 and logged, and the session keeps its algorithm. TpInit8583 sets what
   the settings file says, TpInit8583With the library's own MAC. */
TRANPAK_API int TRANPAK_CALL TpSetMacAlgorithm(TpSession *s, int algorithm, int padding, int keyLen);
/* What the session's MAC covers from now on (TpMacCovers), after
   TpSetMacAlgorithm has set its algorithm's default. TP_MAC_COVERS_DATA is
   taken under every algorithm; TP_MAC_COVERS_MESSAGE under the standard
   ones only, and refused under TP_MAC_LEGACY. A refusal is logged, returns
   -1 and leaves the session as it was. */
TRANPAK_API int TRANPAK_CALL TpSetMacCovers(TpSession *s, int covers);
/* The session's wire dialect, one key at a time, as a line of the settings
   file's [Wire Format] section sets it: key LENGTH, LENGTHCOUNTS, ENVELOPE,
   HEADER, MTI, BITMAP, CHARSET, NUMBERS, PREFIX or BINARY (any case), value
   as that section writes it ("BINARY2", "TPDU:6000030000", "" for the
   default). docs/wire-formats.md lists them with their bytes and presets.
   Applies to every frame packed, sent, received or unpacked from now on; a
   TPDU received before is forgotten. -1, with its log line, for a key or a
   value it does not know (the dialect then stays as it was). */
TRANPAK_API int TRANPAK_CALL TpSetWireFormat(TpSession *s, const char *key, const char *value);
/* The session's MAC as TpSetMacAlgorithm, TpSetMacCovers or the settings
   file's [MAC] section left it: its TpMacAlgorithm, padding (TP_MAC_PAD1
   where the algorithm does not pad by ISO/IEC 9797-1), the key bytes its
   key arguments must hold, and its TpMacCovers. A NULL pointer is skipped.
   Returns 0, or -1 for a NULL, misaligned or uninitialised session. */
TRANPAK_API int TRANPAK_CALL TpGetMacAlgorithm(TpSession *s, int *algorithm, int *padding, int *keyLen, int *covers);

/* One exchange on a connection of TpSockConnect, kept open between
   exchanges: what TpSockSendMesg, TpSockRecvMesg and TpCheckMesgMac do in
   turn with the same key, in one call, stopping at the first that fails
   (-1, its log line and its TpGetLastError record; after a failure the
   connection is out of step: close it). 0 when the reply came whole and
   its MAC verified; the reply is then the session's message. */
TRANPAK_API int TRANPAK_CALL TpSockExchange(TpSession *s, int sock, const void *key);

/* A message set or read whole in one call, as a block of pairs: a field's
   number in decimal ("0" for the message type, "2" ... "128", no sign and no
   leading zero) and NUL, then
   its text and NUL; one more NUL (an empty string) ends the block:
     "0\0" "0200\0" "4\0" "12.50\0" "\0"
   TpSetCellTexts sets each pair's field in turn as TpSetCellText does (the
   message is not cleared first: TpResetMesg clears its fields, and the
   message type, which ResetMesg keeps, stays until it is set again) and
   stops at the first pair
   refused, a number other than 0 to 128 among them, with -1 and its log
   line; the fields before it stay set. TpGetCellTexts writes the message
   type (when set) and every field in use, in field order, each text as
   TpGetCellText gives it (card data not masked), into out; *outLen gets the
   block's length with its ending NUL, also when size is too small (then
   refused, nothing written); out NULL with size 0 and outLen given only
   measures (0, nothing logged). */
TRANPAK_API int TRANPAK_CALL TpSetCellTexts(TpSession *s, const char *block);
TRANPAK_API int TRANPAK_CALL TpGetCellTexts(TpSession *s, char *out, int size, int *outLen);

/*
 * PIN blocks and DUKPT: the card security a terminal's request needs in
 * field 52 (the PIN block) and 53 (the KSN), and what a host or a
 * simulator needs to read them. They take no session and log nothing: a
 * wrong argument is refused with -1 and nothing written. Keys, PIN fields
 * and clear PINs are wiped from the library's stack before each returns;
 * the caller's own copies are the caller's to wipe. These functions handle
 * every key in clear in the process's memory: they are the reference for
 * tests, simulators and software terminals; a production terminal keeps
 * its keys in a secure element or HSM (docs/security.md).
 *
 * ISO 9564-1 PIN blocks of a PIN of 4 to 12 digits:
 *
 *   format  block  key                      PAN
 *   0       8      TDES, 16 or 24 bytes     13 to 19 digits (the 12 left of the check digit)
 *   1       8      TDES, 16 or 24 bytes     not used (may be NULL)
 *   3       8      TDES, 16 or 24 bytes     13 to 19 digits, as format 0
 *   4       16     AES, 16, 24 or 32 bytes  1 to 19 digits
 *
 * A single DES key (8 bytes) is refused: ISO 9564-1 no longer allows it.
 * Formats 1, 3 and 4 carry random fill, taken from the operating system's
 * randomness. Format 4 enciphers the PIN field, XORs the PAN field and
 * enciphers again; recovery decrypts twice.
 */
typedef enum TpPinFormat {
    TP_PIN_FORMAT_0 = 0, /* ISO 9564-1 format 0 (ANSI X9.8) */
    TP_PIN_FORMAT_1 = 1,
    TP_PIN_FORMAT_3 = 3,
    TP_PIN_FORMAT_4 = 4 /* AES, 16-byte block */
} TpPinFormat;
#define TP_PIN_BLOCK_MAX 16 /* bytes of the longest block (format 4) */
#define TP_PIN_FILL_SIZE 8  /* bytes of fill TpPinBlockWithFill takes */
#define TP_PIN_MAX_DIGITS 12

/* The PIN block of pin (4 to 12 digits, NUL-terminated) for pan (digits,
   NUL-terminated) under keyLen bytes at key, into block: 8 bytes, 16 for
   format 4. 0, or -1 for a wrong format, key length, PIN or PAN, or when
   the system gives no randomness for the fill. */
TRANPAK_API int TRANPAK_CALL TpPinBlock(int format, const void *key, int keyLen, const char *pin, const char *pan,
                                        unsigned char *block);
/* The same with a fill of the caller's instead of random bytes, so a
   block can be made again (test vectors): formats 1 and 3 take the
   nibbles of the TP_PIN_FILL_SIZE bytes at fill, first nibble first, for
   the nibbles after the PIN (format 3: each A to F, else refused);
   format 4 takes the 8 bytes as the PIN field's second half; format 0
   takes none (fill may be NULL). Not for production: a fill that repeats
   lets equal PINs give equal blocks. */
TRANPAK_API int TRANPAK_CALL TpPinBlockWithFill(int format, const void *key, int keyLen, const char *pin,
                                                const char *pan, const unsigned char *fill, unsigned char *block);
/* The PIN in block (8 bytes, 16 for format 4), as digits and a NUL into
   pin (pinSize at least TP_PIN_MAX_DIGITS + 1). -1 for a wrong argument,
   or a block whose deciphered PIN field is not one of the format (control
   nibble, length, digits, fill): wrong key and wrong PAN end there too. */
TRANPAK_API int TRANPAK_CALL TpPinFromBlock(int format, const void *key, int keyLen, const unsigned char *block,
                                            const char *pan, char *pin, int pinSize);
/* Whether block holds pin: 0 when it does, 1 when it holds another PIN
   (compared without stopping at the first difference), -1 when refused as
   TpPinFromBlock refuses, or pin is not 4 to 12 digits. */
TRANPAK_API int TRANPAK_CALL TpPinCheck(int format, const void *key, int keyLen, const unsigned char *block,
                                        const char *pan, const char *pin);

/*
 * DUKPT, a key per transaction from a base derivation key (BDK).
 *
 * TP_DUKPT_TDES (ANSI X9.24-1:2009): a BDK of 16 bytes (24 are taken too:
 * triple DES with three keys, the IPEK's variant in each third), a KSN of
 * 10 bytes whose rightmost 21 bits count the transactions, keys of 16
 * bytes. A terminal uses only counters with at most ten 1-bits: after one
 * with ten it adds the counter's lowest 1-bit, so 1,048,575 transactions
 * in all; a KSN with another counter (0, or more than ten 1-bits) is
 * refused. The working keys are the transaction key's variants.
 *
 * TP_DUKPT_AES (ANSI X9.24-3:2017): a BDK of 16, 24 or 32 bytes (AES-128,
 * -192, -256; the initial key and the derivation keys are as long), a KSN
 * of 12 bytes: the initial key ID (8 bytes) and a 32-bit counter, of which
 * only counters with at most sixteen 1-bits are used (the last FFFF0000).
 * A working key is derived for its usage and key type (TpDukptKeyType),
 * no stronger than the BDK: triple DES keys from any AES BDK, AES keys no
 * longer than it.
 */
typedef enum TpDukptKind { TP_DUKPT_TDES = 1, TP_DUKPT_AES = 2 } TpDukptKind;
typedef enum TpDukptUsage {
    TP_DUKPT_TRANSACTION = 0,   /* the counter's key itself */
    TP_DUKPT_PIN = 1,           /* PIN encryption */
    TP_DUKPT_MAC_REQUEST = 2,   /* TDES: MAC request variant; AES: MAC generation */
    TP_DUKPT_MAC_RESPONSE = 3,  /* TDES: MAC response variant; AES: MAC verification */
    TP_DUKPT_DATA_REQUEST = 4,  /* TDES: data request variant; AES: data encryption */
    TP_DUKPT_DATA_RESPONSE = 5, /* TDES: data response variant; AES: data decryption */
    TP_DUKPT_MAC_BOTH = 6,      /* AES only: MAC both ways */
    TP_DUKPT_DATA_BOTH = 7,     /* AES only: data both ways */
    TP_DUKPT_KEY_ENCRYPTION = 8 /* AES only: key encryption key */
} TpDukptUsage;
/* The working key's algorithm, numbered as X9.24-3's algorithm indicator;
   TP_DUKPT_TDES keys are TP_DUKPT_KEY_2TDEA. */
typedef enum TpDukptKeyType {
    TP_DUKPT_KEY_2TDEA = 0,  /* 16 bytes */
    TP_DUKPT_KEY_3TDEA = 1,  /* 24 bytes */
    TP_DUKPT_KEY_AES128 = 2, /* 16 bytes */
    TP_DUKPT_KEY_AES192 = 3, /* 24 bytes */
    TP_DUKPT_KEY_AES256 = 4  /* 32 bytes */
} TpDukptKeyType;
#define TP_DUKPT_TDES_KSN_SIZE 10
#define TP_DUKPT_AES_KSN_SIZE 12
#define TP_DUKPT_MAX_KEY 32

/* The initial key (TDES: the IPEK, 16 bytes; AES: as long as the BDK) of
   the BDK and the KSN (its counter ignored; for AES the 8-byte initial key
   ID alone is taken too) into key, keyLen being that length. 0 or -1. */
TRANPAK_API int TRANPAK_CALL TpDukptInitialKey(int kind, const void *bdk, int bdkLen, const void *ksn, int ksnLen,
                                               unsigned char *key, int keyLen);
/* The host's derivation: the working key of usage (TpDukptUsage) and
   keyType (TpDukptKeyType; keyLen its length) for the KSN's counter, from
   the BDK. TP_DUKPT_TRANSACTION gives the counter's own key (TDES: 16
   bytes; AES: the BDK's type). -1 for a counter a terminal never uses, an AES
   key longer than the BDK, and any other wrong argument. */
TRANPAK_API int TRANPAK_CALL TpDukptDeriveKey(int kind, const void *bdk, int bdkLen, const void *ksn, int ksnLen,
                                              int usage, int keyType, unsigned char *key, int keyLen);

/* A terminal's DUKPT state: its KSN, its counter and its future keys (21
   registers for TDES, 32 for AES), in storage the caller owns, of
   TP_DUKPT_TERMINAL_SIZE bytes. It holds keys in clear: wipe it with
   TpDukptTerminalWipe when done. */
#define TP_DUKPT_TERMINAL_SIZE 1088
typedef struct TpDukptTerminal {
    union {
        unsigned char bytes[TP_DUKPT_TERMINAL_SIZE];
        long long align_integer;
        void *align_pointer;
    } opaque; /* private */
} TpDukptTerminal;
/* Loads the initial key of TpDukptInitialKey (ikLen 16 for TDES; 16, 24
   or 32 for AES) and the initial KSN, whose counter must be 0, fills the
   future keys and makes counter 1 the current one. The initial key is not
   kept. 0 or -1. */
TRANPAK_API int TRANPAK_CALL TpDukptTerminalLoad(TpDukptTerminal *t, int kind, const void *ik, int ikLen,
                                                 const void *ksn, int ksnLen);
/* The working key of usage and keyType for the current counter into key
   (keyLen its length), and the KSN that travels with it into ksn (ksnLen:
   10 for TDES, 12 for AES; ksn may be NULL). Any number of keys per
   counter. -1 once the counters have run out. */
TRANPAK_API int TRANPAK_CALL TpDukptTerminalKey(TpDukptTerminal *t, int usage, int keyType, unsigned char *key,
                                                int keyLen, unsigned char *ksn, int ksnLen);
/* Ends the current counter: its key is erased, the future keys below it
   are filled, and the next usable counter becomes current. -1 when there
   is none (the terminal has run out; it needs another initial key). */
TRANPAK_API int TRANPAK_CALL TpDukptTerminalAdvance(TpDukptTerminal *t);
/* Overwrites the whole state with zeros. */
TRANPAK_API int TRANPAK_CALL TpDukptTerminalWipe(TpDukptTerminal *t);

/*
 * BER-TLV lists, as field 55 carries a chip card's data (and any binary
 * field may): checked, walked, searched, built and described in the
 * caller's storage, without a session and without allocating.
 *
 *   9F02 06 000000001250     tag 9F02, 6 bytes of value
 *   70 81 90 <144 bytes>     constructed tag 70: a list of TLVs inside
 *
 * A tag is one to three bytes and is passed as an int holding its bytes
 * big-endian (0x9F02, 0x5A, 0xDF8101). A length is one byte (0 to 127),
 * or 0x81 and one byte, or 0x82 and two (up to TP_TLV_MAX_VALUE_LEN);
 * more length bytes and the indefinite form (0x80) are refused. A
 * constructed tag (bit 0x20 of its first byte) holds TLVs, nested at most
 * TP_TLV_MAX_DEPTH deep. Reading refuses, at the first fault and with the
 * offset of the TLV where it lies (from the list's first byte): a tag cut
 * short, a tag longer than three bytes, a length cut short, a length form
 * not taken, a length that runs past the end of the list or of the
 * constructed value around it, nesting deeper than TP_TLV_MAX_DEPTH, and
 * bytes 0x00 or 0xFF where a tag should start (padding is no TLV).
 *
 * Failures: each function returns -1 and, when err is not NULL (its size
 * set as for TpGetLastError), fills *err as TpGetLastError would: a list
 * that breaks the format is TRANPAK_ERR_MALFORMED with err->offset the
 * fault's offset and the text
 *     tranpak: TLV at offset 12: length 40 runs past the end (30 bytes left)
 * a wrong argument (a tag that is no tag, no room) is TRANPAK_ERR_ARGUMENT,
 * offset -1. A call that succeeds fills *err as a call that failed in
 * nothing. Nothing is logged (there is no session), and no session's last
 * error changes.
 */
#define TP_TLV_MAX_DEPTH 8
#define TP_TLV_MAX_VALUE_LEN 65535

/* One TLV as TpTlvItems reports it; offsets count from the list's first
   byte, so the value is data[valueOffset .. valueOffset + valueLen). */
typedef struct TpTlvItem {
    int tag;         /* the tag's bytes, big-endian: 0x9F02 */
    int depth;       /* constructed tags around it: 0 at the top level */
    int constructed; /* 1 when its value is a list of TLVs (the next items) */
    int offset;      /* of its tag */
    int valueOffset; /* of its value */
    int valueLen;    /* of its value */
} TpTlvItem;

/* Walks the whole list of len bytes at data: 0 when it is well formed,
   else -1 with the offset of the fault in *faultOffset (when not NULL; -1
   for a wrong argument). An empty list (len 0) is well formed. */
TRANPAK_API int TRANPAK_CALL TpTlvCheck(const void *data, int len, int *faultOffset, TpError *err);
/* Every TLV of a well-formed list, in order, a constructed tag before the
   TLVs inside it, into items (room for maxItems); *count gets how many
   there are, also when they do not fit (then -1, nothing written). items
   NULL with maxItems 0 and count given only counts (0). A list that is
   not well formed is refused whole. */
TRANPAK_API int TRANPAK_CALL TpTlvItems(const void *data, int len, TpTlvItem *items, int maxItems, int *count,
                                        TpError *err);
/* The value of the first TLV with this tag (walking in order, inside
   constructed tags too) copied into value (size bytes of room), its
   length into *valueLen. Returns 0 when found; 1 when no TLV has the tag
   (*valueLen 0, nothing written, no failure); -1 for a list that is not
   well formed (searched only once found whole), a tag that is no tag or
   a value that does not fit (*valueLen then says how much room it needs,
   nothing written). value NULL with size 0 only measures. The value of a
   constructed tag is the list inside it. */
TRANPAK_API int TRANPAK_CALL TpTlvFind(const void *data, int len, int tag, unsigned char *value, int size,
                                       int *valueLen, TpError *err);
/* Appends tag, length and valueLen bytes at value (NULL when valueLen is
   0) at buf + *used, buf having size bytes of room, and adds what it wrote
   to *used. The length takes the fewest bytes. The value of a constructed
   tag must be a well-formed list, nested at most TP_TLV_MAX_DEPTH deep
   with the tag around it. Refused with nothing written: a tag that
   is no tag (its bytes must say where it ends; its first byte is not 0x00
   or 0xFF), valueLen beyond TP_TLV_MAX_VALUE_LEN, no room. */
TRANPAK_API int TRANPAK_CALL TpTlvAppend(unsigned char *buf, int size, int *used, int tag, const void *value,
                                         int valueLen, TpError *err);
/* A constructed tag built around TLVs appended after it: TpTlvOpen writes
   the tag and room for a length (3 bytes) at buf + *used, adds them to
   *used and puts their offset in *mark; TLVs (and more opened tags) are
   then appended; TpTlvClose(mark) writes the length of all appended since
   and moves them up to the fewest length bytes, taking the bytes saved
   from *used. Open refuses a tag that is not constructed; Close refuses a
   mark that is no open tag and contents that are not a well-formed list,
   longer than TP_TLV_MAX_VALUE_LEN, holding a tag opened and not closed,
   or nesting TLVs deeper than TP_TLV_MAX_DEPTH with the tag around them,
   leaving buf as it was. Close the innermost first. */
TRANPAK_API int TRANPAK_CALL TpTlvOpen(unsigned char *buf, int size, int *used, int tag, int *mark, TpError *err);
TRANPAK_API int TRANPAK_CALL TpTlvClose(unsigned char *buf, int size, int *used, int mark, TpError *err);
/* The list described for a person, one TLV a line, two spaces of indent
   for each constructed tag around it, values in upper-case hex, the
   common EMV tags named:
       9F02 amount authorised: 000000001250
       5A application PAN: ************0119
       70 record template
         57 track 2 equivalent data: ****************************4899
   Card data (5A PAN, 56, 57, 9F6B, 9F1F, 9F20 track data, 5F20 cardholder
   name, 5F24 expiry) shows only its last four hex digits unless flags has
   TP_DESCRIBE_UNMASKED. With TP_DESCRIBE_JSON one JSON array instead, a
   constructed tag's TLVs in its "tags":
       [{"tag": "9F02", "name": "amount authorised", "value": "000000001250"},
        {"tag": "70", "name": "record template", "tags": [...]}]
   *outLen, out NULL with size 0, and a text that does not fit as for
   TpDescribe. A list that is not well formed is refused, nothing
   written. */
TRANPAK_API int TRANPAK_CALL TpTlvDescribe(const void *data, int len, int flags, char *out, int size, int *outLen,
                                           TpError *err);

#ifdef __cplusplus
}
#endif

#endif /* TRANPAK_H */
