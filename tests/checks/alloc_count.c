/*
 * Which calls allocate: the library's own code never does, and the calls
 * below must not make the C library allocate either. Every malloc, calloc
 * and realloc of the process is counted by the definitions here, which
 * take the place of the C library's for the whole process.
 *
 * Left out on purpose, as the header says: name lookup (SockConnect with a
 * name), the first line logged or traced in a process (the C library loads
 * the local time zone once) and the file functions.
 */
#include <tranpak.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void *__libc_malloc(size_t);
extern void *__libc_calloc(size_t, size_t);
extern void *__libc_realloc(void *, size_t);

static long g_allocs;
void *malloc(size_t n)
{
    ++g_allocs;
    return __libc_malloc(n);
}
void *calloc(size_t a, size_t b)
{
    ++g_allocs;
    return __libc_calloc(a, b);
}
void *realloc(void *p, size_t n)
{
    ++g_allocs;
    return __libc_realloc(p, n);
}

static TpSession g_session;
static TpSession g_other;
static unsigned char g_frame[2048];
static int g_frameLen;
static const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
static TpSettings g_settings;

static int InitFromFile(void) { return TpInit8583(&g_session, "settings.ini"); }
static int InitWith(void) { return TpInit8583With(&g_other, &g_settings); }
static int SetFields(void)
{
    double amount = 10.0;
    return TpSetCell(&g_session, 0, "0200") | TpSetCell(&g_session, 2, "4761739001010119") |
           TpSetCell(&g_session, 3, "123") | TpSetCell(&g_session, 4, &amount);
}
static int Pack(void) { return TpPackMesg(&g_session, kKey, g_frame, sizeof g_frame, &g_frameLen); }
static int Unpack(void) { return TpUnpackMesg(&g_other, g_frame, g_frameLen); }
static int CheckMac(void) { return TpCheckMesgMac(&g_other, kKey); }
static int GetField(void)
{
    char pan[20];
    return TpGetCell(&g_other, 2, pan);
}
static int FailingCall(void) { return TpSetCell(&g_session, 3, "12x") == -1 ? 0 : -1; }
static int ConnectDotted(void) { return TpSockConnect(&g_session, "127.0.0.1", 1) == -1 ? 0 : -1; }
static int BackupRestore(void) { return TpBackupMesg(&g_session) | TpRestoreMesg(&g_session); }
/* A BER-TLV list built, walked, searched and described, and one refused
   with its reason formatted into the caller's record. */
static int Tlvs(void)
{
    static const unsigned char amount[6] = {0, 0, 0, 0, 0x12, 0x50};
    static const unsigned char broken[] = {0x70, 0x03, 0x5A, 0x05, 0x47};
    unsigned char list[64], value[8];
    char text[256];
    TpTlvItem items[4];
    TpError err;
    int used = 0, mark = 0, n = 0, rc;
    err.size = (int)sizeof err;
    rc = TpTlvOpen(list, sizeof list, &used, 0x70, &mark, &err) |
         TpTlvAppend(list, sizeof list, &used, 0x9F02, amount, 6, &err) |
         TpTlvAppend(list, sizeof list, &used, 0x5A, "\x47\x61", 2, &err) |
         TpTlvClose(list, sizeof list, &used, mark, &err) | TpTlvItems(list, used, items, 4, &n, &err) |
         TpTlvFind(list, used, 0x5A, value, sizeof value, &n, &err) |
         TpTlvDescribe(list, used, TP_DESCRIBE_JSON, text, sizeof text, &n, &err);
    return rc | (TpTlvCheck(broken, sizeof broken, &n, &err) == -1 && n == 2 ? 0 : -1);
}

static void WriteText(const char *path, const char *text)
{
    FILE *f = fopen(path, "w");
    if (f == NULL || fputs(text, f) < 0 || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(2);
    }
}

int main(void)
{
    char dir[] = "/tmp/tranpak-alloc-XXXXXX";
    if (mkdtemp(dir) == NULL || chdir(dir) != 0)
        return 2;
    WriteText("bitmap.txt", "PAN N 19,2 2\nPROCCODE N 6 3\nAMOUNT NF 12 4\nMAC B 8 64\n");
    WriteText("settings.ini",
              "[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=bitmap.txt\n"
              "[Com Timeout]\nCONNECT=2\nRECV=2\n");
    g_settings.errFile = "errlog.txt";
    g_settings.bmpFile = "bitmap.txt";
    /* The one-time loads of the C library (time zone) happen here. */
    TpInit8583With(&g_other, &g_settings);
    TpSetCell(&g_other, 3, "x");

    static const struct {
        const char *name;
        int (*call)(void);
    } calls[] = {
        {"TpInit8583 (settings and definition files)", InitFromFile},
        {"TpInit8583With", InitWith},
        {"TpSetCell", SetFields},
        {"TpBackupMesg, TpRestoreMesg", BackupRestore},
        {"the TpTlv functions", Tlvs},
        {"TpPackMesg", Pack},
        {"TpUnpackMesg", Unpack},
        {"TpCheckMesgMac", CheckMac},
        {"TpGetCell", GetField},
        {"a failing call and its log line", FailingCall},
        {"TpSockConnect to a dotted address", ConnectDotted},
    };
    int failed = 0;
    for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
        const long before = g_allocs;
        const int rc = calls[i].call();
        const long allocs = g_allocs - before;
        printf("%-45s rc %d, %ld allocations\n", calls[i].name, rc, allocs);
        if (rc != 0 || allocs != 0)
            failed = 1;
    }
    printf(failed ? "FAIL\n" : "PASS\n");
    unlink("bitmap.txt");
    unlink("settings.ini");
    unlink("errlog.txt");
    if (chdir("/") == 0)
        rmdir(dir);
    return failed;
}
