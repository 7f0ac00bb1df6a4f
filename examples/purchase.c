/*
 * One purchase against a host, start to finish: the settings given in the
 * program (no settings file), the request built from text, sent with its
 * MAC, the reply's MAC checked and the reply printed with card data
 * masked. Every result is checked; a failure prints its reason and the
 * field it concerns.
 *
 *   purchase DEFINITIONS HOST PORT KEY
 *   purchase /usr/share/tranpak/examples/bitmap.txt 127.0.0.1 5000 0123456789ABCDEF
 *
 * The error log goes to errlog.txt in the current folder.
 */
#include <tranpak.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The 8-byte MAC key from 16 hexadecimal digits; -1 for anything else. */
static int ParseKey(const char *hex, unsigned char key[8])
{
    if (strlen(hex) != 16)
        return -1;
    for (int i = 0; i < 8; ++i) {
        unsigned int byte;
        if (sscanf(hex + 2 * i, "%2x", &byte) != 1)
            return -1;
        key[i] = (unsigned char)byte;
    }
    return 0;
}

/* The reason of the session's last failure, on standard error. */
static int Fail(TpSession *s, const char *step)
{
    TpError err;
    err.size = sizeof err;
    TpGetLastError(s, &err);
    if (err.field >= 0)
        fprintf(stderr, "%s failed (field %d): %s\n", step, err.field, err.text);
    else
        fprintf(stderr, "%s failed: %s\n", step, err.text);
    return 1;
}

static TpSession session; /* static storage starts all zero */

int main(int argc, char **argv)
{
    unsigned char key[8];
    if (argc != 5 || ParseKey(argv[4], key) != 0) {
        fprintf(stderr, "usage: purchase DEFINITIONS HOST PORT KEY (16 hex digits)\n");
        return 2;
    }
    TpSession *s = &session;
    TpSettings settings = {0};
    settings.bmpFile = argv[1];
    settings.errFile = "errlog.txt";
    settings.connectLimit = 10;
    settings.sendLimit = 10;
    settings.recvLimit = 30;
    if (TpInit8583With(s, &settings) != 0)
        return Fail(s, "initialisation");

    static const struct {
        int field;
        const char *text;
    } request[] = {
        {0, "0200"}, {2, "4761739001010119"}, {3, "000000"}, {4, "12.50"}, {11, "000001"}, {41, "TERM0001"},
    };
    for (size_t i = 0; i < sizeof request / sizeof request[0]; ++i)
        if (TpSetCellText(s, request[i].field, request[i].text) != 0)
            return Fail(s, "setting a field");

    int sock = TpSockConnect(s, argv[2], atoi(argv[3]));
    if (sock < 0)
        return Fail(s, "connecting");
    int rc = TpSockSendMesg(s, sock, key) == 0 && TpSockRecvMesg(s, sock) == 0 && TpCheckMesgMac(s, key) == 0;
    if (!rc) {
        Fail(s, "the exchange");
        TpSockClose(s, sock);
        TpWipe(s);
        return 1;
    }
    TpSockClose(s, sock);

    char shown[8192];
    char code[3];
    if (TpDescribe(s, 0, shown, sizeof shown, NULL) != 0)
        return Fail(s, "describing the reply");
    fputs(shown, stdout);
    if (TpGetCellText(s, 39, code, sizeof code) != 0)
        return Fail(s, "reading the response code");
    printf("response code %s\n", code);
    TpWipe(s); /* keys and card data gone */
    return strcmp(code, "00") == 0 ? 0 : 3;
}
