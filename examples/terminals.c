/*
 * Several terminals in one process, one thread and one session each: the
 * sessions share nothing but the error log, so the threads need no lock.
 * Each terminal sends one purchase and prints its response code.
 *
 *   terminals DEFINITIONS HOST PORT KEY [COUNT]
 *
 * The error log goes to errlog.txt in the current folder.
 */
#include <tranpak.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kMaxTerminals = 16 };

struct Terminal {
    const char *definitions, *host;
    int port;
    unsigned char key[8];
    char termid[9];
    int ok;
};

static void *RunTerminal(void *arg)
{
    struct Terminal *t = arg;
    /* A session on the thread's own stack, all zero before its first use. */
    TpSession s;
    memset(&s, 0, sizeof s);
    TpSettings settings = {0};
    settings.bmpFile = t->definitions;
    settings.errFile = "errlog.txt";
    settings.connectLimit = 10;
    settings.recvLimit = 30;
    char text[256];
    int sock = -1;

    if (TpInit8583With(&s, &settings) != 0 || TpSetCellText(&s, 0, "0200") != 0 ||
        TpSetCellText(&s, 2, "4761739001010119") != 0 || TpSetCellText(&s, 4, "12.50") != 0 ||
        TpSetCellText(&s, 41, t->termid) != 0 || (sock = TpSockConnect(&s, t->host, t->port)) < 0 ||
        TpSockSendMesg(&s, sock, t->key) != 0 || TpSockRecvMesg(&s, sock) != 0 || TpCheckMesgMac(&s, t->key) != 0 ||
        TpGetCellText(&s, 39, text, sizeof text) != 0) {
        TpGetLastErrMesg(&s, text, sizeof text);
        fprintf(stderr, "%s: %s\n", t->termid, text);
    } else {
        printf("%s: response code %s\n", t->termid, text);
        t->ok = strcmp(text, "00") == 0;
    }
    if (sock >= 0)
        TpSockClose(&s, sock);
    TpWipe(&s); /* keys and card data gone */
    return NULL;
}

int main(int argc, char **argv)
{
    int count = argc == 6 ? atoi(argv[5]) : 2;
    if ((argc != 5 && argc != 6) || strlen(argv[4]) != 16 || count < 1 || count > kMaxTerminals) {
        fprintf(stderr, "usage: terminals DEFINITIONS HOST PORT KEY (16 hex digits) [COUNT, 1 to 16]\n");
        return 2;
    }
    struct Terminal terminals[kMaxTerminals];
    pthread_t threads[kMaxTerminals];
    for (int i = 0; i < count; ++i) {
        struct Terminal *t = &terminals[i];
        t->definitions = argv[1];
        t->host = argv[2];
        t->port = atoi(argv[3]);
        for (int b = 0; b < 8; ++b) {
            unsigned int byte = 0;
            sscanf(argv[4] + 2 * b, "%2x", &byte);
            t->key[b] = (unsigned char)byte;
        }
        snprintf(t->termid, sizeof t->termid, "TERM%04d", i + 1);
        t->ok = 0;
        if (pthread_create(&threads[i], NULL, RunTerminal, t) != 0) {
            fprintf(stderr, "cannot start a thread\n");
            return 1;
        }
    }
    int approved = 0;
    for (int i = 0; i < count; ++i) {
        pthread_join(threads[i], NULL);
        approved += terminals[i].ok;
    }
    printf("%d of %d approved\n", approved, count);
    return approved == count ? 0 : 1;
}
