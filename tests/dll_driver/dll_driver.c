/*
 * Drives the shipped tranpak.dll as an application that loads it at run
 * time does: LoadLibraryA, GetProcAddress for every export into a __cdecl
 * pointer, then a purchase exchanged with a loopback peer, on the default
 * session and on a session of the driver's own, a text and a binary file
 * sent and fetched back, and on 32-bit x86 a measurement that
 * the functions leave their arguments on the stack for the caller, as
 * __cdecl does. Missing or decorated export names, another calling
 * convention, and a DLL that cannot start its sockets all fail here.
 *
 *   dll_driver.exe [path of tranpak.dll]
 *
 * Runs in a folder where the settings file (c:/windows/system/8583.ini)
 * names the definition file, error log and trace.
 */
#include <winsock2.h> /* before windows.h, which would bring the old winsock.h */
#include <windows.h>

#include "exports.h"
#include "peer.h"
#include "stack_probe.h"

#include <stdio.h>
#include <string.h>

static const char kHost[] = "127.0.0.1";
static const unsigned char kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
static int g_checks, g_failed;

#define CHECK(cond) Check((cond) != 0, #cond, __LINE__)

static int Check(int ok, const char *what, int line)
{
    ++g_checks;
    if (!ok) {
        ++g_failed;
        printf("FAIL line %d: %s\n", line, what);
    }
    return ok;
}

static int WriteBytes(const char *path, const char *bytes, int count)
{
    FILE *f = fopen(path, "wb");
    if (f == NULL)
        return -1;
    int ok = fwrite(bytes, 1, (size_t)count, f) == (size_t)count;
    return fclose(f) == 0 && ok ? 0 : -1;
}

/* 1 when the file holds exactly count bytes equal to bytes. */
static int FileHolds(const char *path, const char *bytes, int count)
{
    static char got[PEER_BUF + 1];
    FILE *f = fopen(path, "rb");
    if (f == NULL)
        return 0;
    int n = (int)fread(got, 1, sizeof got, f);
    fclose(f);
    return n == count && memcmp(got, bytes, (size_t)count) == 0;
}

/* Packs the host's reply with the DLL itself (the peer keeps the frame),
   then sends the request and checks what comes back. */
static void Exchange(const struct Tranpak *tp, struct Peer *peer)
{
    static const char pan[] = "4761739001010119";
    double amount = 12.50, got_amount = 0;
    char text[512] = "";
    unsigned char other_key[8];
    memcpy(other_key, kKey, sizeof other_key);
    other_key[3] ^= 0x02; /* bit 0 of a DES key byte is parity; this is not */

    CHECK(tp->Init8583() == 0);
    CHECK(tp->GetCellType(2) == 5 && tp->GetCellType(4) == 2 && tp->GetCellType(64) == 6);

    CHECK(tp->ResetMesg() == 0);
    CHECK(tp->SetCell(0, "0210") == 0 && tp->SetCell(2, pan) == 0 && tp->SetCell(4, &amount) == 0);
    CHECK(tp->SetCell(38, "A1B2C3") == 0 && tp->SetCell(39, "00") == 0);
    PeerStart(peer, PEER_CAPTURE);
    int sock = tp->SockConnect(kHost, peer->port);
    CHECK(sock >= 0);
    CHECK(tp->SockSendMesg(sock, kKey) == 0);
    CHECK(tp->SockClose(sock) == 0);
    CHECK(PeerWait(peer));

    CHECK(tp->ResetMesg() == 0);
    CHECK(tp->SetCell(0, "0200") == 0 && tp->SetCell(2, pan) == 0 && tp->SetCell(3, "000000") == 0);
    CHECK(tp->SetCell(4, &amount) == 0 && tp->SetCell(11, "000001") == 0 && tp->SetCell(41, "TERM0001") == 0);
    CHECK(tp->SetCell(3, "12ab") == -1); /* an N field takes digits only */
    PeerStart(peer, PEER_EXCHANGE);
    sock = tp->SockConnect(kHost, peer->port);
    CHECK(sock >= 0);
    CHECK(tp->SockSendMesg(sock, kKey) == 0);
    CHECK(tp->SockRecvMesg(sock, 0) == 0);
    CHECK(tp->SockClose(sock) == 0);
    CHECK(PeerWait(peer));
    CHECK(peer->frame_len > 9 && memcmp(peer->frame + 5, "0200", 4) == 0);

    CHECK(tp->CheckMesgMac(kKey) == 0);
    CHECK(tp->CheckMesgMac(other_key) == -1);
    char reason[64];
    CHECK(tp->GetLastErrMesg(reason, sizeof reason) == 7 /* TRANPAK_ERR_MAC */ &&
          strcmp(reason, "tranpak: mac check error") == 0);
    CHECK(tp->GetCell(0, text) == 0 && strcmp(text, "0210") == 0);
    CHECK(tp->GetCell(2, text) == 0 && strcmp(text, pan) == 0);
    CHECK(tp->GetCell(38, text) == 0 && strcmp(text, "A1B2C3") == 0);
    CHECK(tp->GetCell(4, &got_amount) == 0 && got_amount == amount);

    CHECK(tp->BackupMesg() == 0);
    CHECK(tp->ResetCell(39) == 0);
    CHECK(tp->GetCell(39, text) == -1);
    CHECK(tp->RestoreMesg() == 0);
    CHECK(tp->GetCell(39, text) == 0 && strcmp(text, "00") == 0);
}

/* The same purchase on a session of the driver's own, beside the default
   session that Exchange left holding its reply. */
static void SessionExchange(const struct Tranpak *tp, struct Peer *peer)
{
    static union {
        unsigned char bytes[128 * 1024];
        long long integer;
        double real;
        void *pointer;
    } storage;
    void *s = &storage;
    double amount = 12.50;
    char text[512] = "";
    unsigned char bitmap[8], frame[2100];
    int frameLen = 0, shownLen = 0;
    struct TpCellDef def;

    CHECK(tp->TpSessionSize() <= sizeof storage);
    CHECK(tp->TpSetCell(s, 0, "0200") == -1); /* not initialised yet */
    CHECK(tp->TpInit8583(s, NULL) == 0);
    CHECK(tp->TpGetCellDef(s, 2, &def) == 0 && def.type == 5 && def.varlen == 2);
    CHECK(tp->TpSetCell(s, 0, "0200") == 0 && tp->TpSetCell(s, 2, "4761739001010119") == 0);
    CHECK(tp->TpSetCell(s, 3, "000000") == 0 && tp->TpSetCell(s, 4, &amount) == 0);
    CHECK(tp->TpSetCell(s, 11, "000002") == 0 && tp->TpSetCell(s, 41, "TERM0001") == 0);
    CHECK(tp->TpPackMesg(s, kKey, frame, (int)sizeof frame, &frameLen) == 0 && frameLen > 18);
    CHECK(tp->TpGetBitmap(s, bitmap) == 0 && bitmap[0] == 0x70);
    PeerStart(peer, PEER_EXCHANGE);
    int sock = tp->TpSockConnect(s, kHost, peer->port);
    CHECK(sock >= 0);
    CHECK(tp->TpSockSendMesg(s, sock, kKey) == 0);
    CHECK(tp->TpSockRecvMesg(s, sock) == 0);
    CHECK(tp->TpSockClose(s, sock) == 0);
    CHECK(PeerWait(peer));
    CHECK(peer->frame_len == frameLen && memcmp(peer->frame, frame, (size_t)frameLen) == 0);
    CHECK(tp->TpCheckMesgMac(s, kKey) == 0);
    CHECK(tp->TpGetCellText(s, 39, text, 2) == -1);
    {
        struct TpError err;
        err.size = (int)sizeof err;
        CHECK(tp->TpGetLastError(s, &err) == 2 && err.field == 39 && err.offset == -1);
    }
    CHECK(tp->TpGetCellText(s, 39, text, 3) == 0 && strcmp(text, "00") == 0);
    CHECK(tp->TpDescribe(s, 1, text, (int)sizeof text, &shownLen) == 0 &&
          strstr(text, "\"2\": {\"name\": \"PAN\", \"type\": \"N\", \"value\": \"************0119\"}") != NULL);
    CHECK(tp->TpSetCellText(s, 4, "12.505") == -1 && tp->TpShowValue(2, 0, "12345", 5, text, 6, NULL) == 0 &&
          strcmp(text, "*2345") == 0);
    CHECK(tp->GetCellText(39, text, (int)sizeof text) == 0 && strcmp(text, "00") == 0);
    CHECK(tp->SetCellText(5, "x") == -1 && tp->DescribeMesg(0, text, 1, NULL) == -1);
    {
        struct TpError err;
        err.size = (int)sizeof err;
        CHECK(tp->GetLastErrInfo(&err) == 2 && err.field == -1);
    }
    CHECK(tp->TpGetCell(s, 0, text) == 0 && strcmp(text, "0210") == 0);
    CHECK(tp->TpGetCell(s, 38, text) == 0 && strcmp(text, "A1B2C3") == 0);
    CHECK(tp->GetCell(39, text) == 0 && strcmp(text, "00") == 0); /* the default session's reply */
    CHECK(tp->TpUnpackMesg(s, frame, frameLen) == 0);
    CHECK(tp->TpGetCell(s, 0, text) == 0 && strcmp(text, "0200") == 0);
    CHECK(tp->TpWipe(s) == 0 && tp->TpGetCell(s, 0, text) == -1);
}

/* The MAC functions: RFC 4493's AES-CMAC of nothing, the check value of
   the double-length key 0123456789ABCDEF FEDCBA9876543210, and a session
   whose field 64 is the retail MAC under a 16-byte key. */
static void Macs(const struct Tranpak *tp)
{
    static const unsigned char aes[16] = {0x2B, 0x7E, 0x15, 0x16, 0x28, 0xAE, 0xD2, 0xA6,
                                          0xAB, 0xF7, 0x15, 0x88, 0x09, 0xCF, 0x4F, 0x3C};
    static const unsigned char empty[16] = {0xBB, 0x1D, 0x69, 0x29, 0xE9, 0x59, 0x37, 0x28,
                                            0x7F, 0xA3, 0x7D, 0x12, 0x9B, 0x75, 0x67, 0x46};
    static const unsigned char kk[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                         0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    static union {
        unsigned char bytes[128 * 1024];
        long long integer;
        void *pointer;
    } storage;
    void *s = &storage;
    unsigned char mac[16], kcv[3], frame[2100];
    int frameLen = 0;

    CHECK(tp->TpMac(5 /* TP_MAC_AES_CMAC */, 0, aes, 16, NULL, 0, mac, 16) == 0 && memcmp(mac, empty, 16) == 0);
    CHECK(tp->TpMac(5, 0, aes, 15, NULL, 0, mac, 16) == -1);
    {
        /* X9.24-1 Annex A: the PIN key of KSN FFFF9876543210E00001 from the
           test BDK, and the format 0 block of PIN 1234, PAN 4012345678909. */
        static const unsigned char bdk[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                              0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
        static const unsigned char ksn[10] = {0xFF, 0xFF, 0x98, 0x76, 0x54, 0x32, 0x10, 0xE0, 0x00, 0x01};
        static const unsigned char want[8] = {0x1B, 0x9C, 0x18, 0x45, 0xEB, 0x99, 0x3A, 0x7A};
        unsigned char pinKey[16], block[16];
        char pin[13];
        CHECK(tp->TpDukptDeriveKey(1 /* TP_DUKPT_TDES */, bdk, 16, ksn, 10, 1 /* TP_DUKPT_PIN */, 0, pinKey, 16) == 0);
        CHECK(tp->TpPinBlock(0, pinKey, 16, "1234", "4012345678909", block) == 0 && memcmp(block, want, 8) == 0);
        CHECK(tp->TpPinFromBlock(0, pinKey, 16, block, "4012345678909", pin, 13) == 0 && strcmp(pin, "1234") == 0);
        CHECK(tp->TpPinBlock(4, pinKey, 16, "1234", "4012345678909", block) == 0); /* random fill from the system */
        CHECK(tp->TpPinCheck(4, pinKey, 16, block, "4012345678909", "1234") == 0);
    }
    CHECK(tp->TpKeyCheckValue(1 /* TP_KCV_ENCRYPT_ZEROS */, 3, kk, 16, kcv, 3) == 0 && kcv[0] == 0x08 &&
          kcv[1] == 0xD7 && kcv[2] == 0xB4);
    CHECK(tp->TpSetMacAlgorithm(s, 3, 1, 16) == -1); /* not initialised yet */
    CHECK(tp->TpSockExchange(s, 0, kk) == -1);
    CHECK(tp->TpInit8583(s, NULL) == 0);
    CHECK(tp->TpSetMacAlgorithm(s, 3 /* TP_MAC_ISO9797_1_ALG3 */, 1, 16) == 0);
    CHECK(tp->TpSetCell(s, 0, "0800") == 0 && tp->TpSetCell(s, 11, "000003") == 0);
    CHECK(tp->TpPackMesg(s, kk, frame, (int)sizeof frame, &frameLen) == 0 && frameLen == 32);
    /* Field 64 covers the type, the bitmap and field 11's six digits: frame
       bytes 5 to 22, the 8 bytes before the stop byte. */
    CHECK(tp->TpMac(3, 1, kk, 16, frame + 5, 18, mac, 8) == 0 && memcmp(mac, frame + 23, 8) == 0);
    CHECK(tp->TpUnpackMesg(s, frame, frameLen) == 0 && tp->TpCheckMesgMac(s, kk) == 0);
    /* Over field 11 alone once the session covers the data area only. */
    CHECK(tp->TpSetMacCovers(s, 2 /* TP_MAC_COVERS_DATA */) == 0);
    CHECK(tp->TpSetWireFormat(s, "LENGTH", "ASCII4") == 0 && tp->TpSetWireFormat(s, "LENGTH", "ASCII5") == -1);
    CHECK(tp->TpPackMesg(s, kk, frame, (int)sizeof frame, &frameLen) == 0 && frameLen == 32);
    CHECK(tp->TpMac(3, 1, kk, 16, frame + 17, 6, mac, 8) == 0 && memcmp(mac, frame + 23, 8) == 0);
    {
        int algorithm = -1, padding = -1, keyLen = -1, covers = -1;
        CHECK(tp->TpGetMacAlgorithm(s, &algorithm, &padding, &keyLen, &covers) == 0 && algorithm == 3 && padding == 1 &&
              keyLen == 16 && covers == 2);
    }
    CHECK(tp->TpWipe(s) == 0);
}

/* The BER-TLV functions: a constructed tag built around two, found,
   walked and described; a length past the end refused with its offset. */
static void Tlvs(const struct Tranpak *tp)
{
    static const unsigned char amount[6] = {0x00, 0x00, 0x00, 0x00, 0x12, 0x50};
    static const unsigned char built[] = {0x70, 0x0C, 0x9F, 0x02, 0x06, 0x00, 0x00,
                                          0x00, 0x00, 0x12, 0x50, 0x5A, 0x01, 0x47};
    static const unsigned char broken[] = {0x9F, 0x02, 0x06, 0x00};
    unsigned char buf[32], value[8];
    char text[128];
    struct TpTlvItem items[4];
    struct TpError err;
    int used = 0, mark = -1, n = 0, offset = 0;

    CHECK(tp->TpTlvOpen(buf, (int)sizeof buf, &used, 0x70, &mark, NULL) == 0 && mark == 0);
    CHECK(tp->TpTlvAppend(buf, (int)sizeof buf, &used, 0x9F02, amount, 6, NULL) == 0);
    CHECK(tp->TpTlvAppend(buf, (int)sizeof buf, &used, 0x5A, "\x47", 1, NULL) == 0);
    CHECK(tp->TpTlvClose(buf, (int)sizeof buf, &used, mark, NULL) == 0 && used == (int)sizeof built &&
          memcmp(buf, built, sizeof built) == 0);
    CHECK(tp->TpTlvFind(built, (int)sizeof built, 0x9F02, value, (int)sizeof value, &n, NULL) == 0 && n == 6 &&
          memcmp(value, amount, 6) == 0);
    CHECK(tp->TpTlvItems(built, (int)sizeof built, items, 4, &n, NULL) == 0 && n == 3 && items[2].tag == 0x5A &&
          items[2].depth == 1 && items[2].valueOffset == 13);
    CHECK(tp->TpTlvDescribe(built, (int)sizeof built, 0, text, (int)sizeof text, &n, NULL) == 0 &&
          strcmp(text, "70 record template\n  9F02 amount authorised: 000000001250\n  5A application PAN: **\n") == 0);
    memset(&err, 0, sizeof err);
    err.size = (int)sizeof err;
    CHECK(tp->TpTlvCheck(broken, (int)sizeof broken, &offset, &err) == -1 && offset == 0 && err.offset == 0 &&
          err.category == 6 /* TRANPAK_ERR_MALFORMED */ &&
          strcmp(err.text, "tranpak: TLV at offset 0: length 6 runs past the end (1 byte left)") == 0);
}

/* A text file goes out without its CRs and comes back with CR LF line
   ends; a binary file of every byte value goes out and back unchanged. */
static void Files(const struct Tranpak *tp, struct Peer *peer)
{
    static const char crlf[] = "settlement batch 0001\r\ntotal 12.50\r\n";
    static const char lf[] = "settlement batch 0001\ntotal 12.50\n";
    static char bytes[3000];
    for (int i = 0; i < (int)sizeof bytes; ++i)
        bytes[i] = (char)(i * 37 + i / 251);

    CHECK(WriteBytes("batch.txt", crlf, (int)strlen(crlf)) == 0);
    PeerStart(peer, PEER_STORE_FILE);
    CHECK(tp->SockSendFile(kHost, peer->port, "batch.txt", "batch-0001.txt") == 0);
    CHECK(PeerWait(peer) && strcmp(peer->request, "batch-0001.txt") == 0);
    CHECK(peer->data_len == (int)strlen(lf) && memcmp(peer->data, lf, strlen(lf)) == 0);

    PeerStart(peer, PEER_SERVE_FILE);
    CHECK(tp->SockRecvFile(kHost, peer->port, "batch-0001.txt", "batch-back.txt") == 0);
    CHECK(PeerWait(peer));
    CHECK(FileHolds("batch-back.txt", crlf, (int)strlen(crlf)));

    CHECK(WriteBytes("bytes.bin", bytes, (int)sizeof bytes) == 0);
    PeerStart(peer, PEER_STORE_FILE);
    CHECK(tp->SockSendBinFile(kHost, peer->port, "bytes.bin", "bytes-0001.bin") == 0);
    CHECK(PeerWait(peer) && strcmp(peer->request, "bytes-0001.bin") == 0);
    CHECK(peer->data_len == (int)sizeof bytes && memcmp(peer->data, bytes, sizeof bytes) == 0);

    PeerStart(peer, PEER_SERVE_FILE);
    CHECK(tp->SockRecvBinFile(kHost, peer->port, "bytes-0001.bin", "bytes-back.bin") == 0);
    CHECK(PeerWait(peer));
    CHECK(FileHolds("bytes-back.bin", bytes, (int)sizeof bytes));
}

/* None of the functions removes its arguments from the stack: tried with
   one, two and four arguments on calls that are refused at once. */
static void CallingConvention(const struct Tranpak *tp)
{
#if defined(__i386__)
    intptr_t one[1] = {-1}, two[2] = {-1, (intptr_t) "0200"}, four[4] = {0, 0, 0, 0};
    int popped = -1;
    CHECK(StackProbe((void (*)(void))tp->ResetCell, 1, one, &popped) == -1 && popped == 0);
    CHECK(StackProbe((void (*)(void))tp->SetCell, 2, two, &popped) == -1 && popped == 0);
    CHECK(StackProbe((void (*)(void))tp->SockSendFile, 4, four, &popped) == -1 && popped == 0);
    intptr_t session_two[2] = {0, -1}; /* a NULL session: refused at once */
    CHECK(StackProbe((void (*)(void))tp->TpResetCell, 2, session_two, &popped) == -1 && popped == 0);
#else
    (void)tp; /* x86-64 Windows has a single calling convention */
#endif
}

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "tranpak.dll";
    HMODULE dll = LoadLibraryA(path);
    if (dll == NULL) {
        printf("FAIL: LoadLibraryA(\"%s\"), error %lu\n", path, (unsigned long)GetLastError());
        return 1;
    }
    char loaded[MAX_PATH] = "";
    GetModuleFileNameA(dll, loaded, sizeof loaded);
    printf("loaded %s (%d-bit process)\n", loaded, (int)(sizeof(void *) * 8));

    struct Tranpak tp;
    int missing = 0;
#define TRANPAK_LOOK_UP(ret, name, params)                         \
  tp.name = (name##_fn)(void (*)(void))GetProcAddress(dll, #name); \
  if (tp.name == NULL) {                                           \
    printf("FAIL: GetProcAddress(\"%s\") found nothing\n", #name); \
    ++missing;                                                     \
  }
    TRANPAK_EXPORTS(TRANPAK_LOOK_UP)
#undef TRANPAK_LOOK_UP
    if (missing > 0)
        return 1;
    printf("looked up %d functions\n", (int)(sizeof tp / sizeof tp.Init8583));

    WSADATA wsa;
    struct Peer peer;
    memset(&peer, 0, sizeof peer);
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0 || PeerOpen(&peer) != 0) {
        printf("FAIL: no loopback listener for the peer\n");
        return 1;
    }
    CallingConvention(&tp);
    Exchange(&tp, &peer);
    SessionExchange(&tp, &peer);
    Macs(&tp);
    Tlvs(&tp);
    Files(&tp, &peer);
    PeerClose(&peer);
    FreeLibrary(dll);
    printf("%d passed, %d failed\n", g_checks - g_failed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
