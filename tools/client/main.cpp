// tranpak-client: sends one message, or sends or fetches one file, through
// the library, the way an application would.
//
//   tranpak-client --host 127.0.0.1 --port 5000 --key 0123456789ABCDEF \
//                  0200 2=4761739001010119 3=000000 4=12.50 41=TERM0001
//   tranpak-client --host 127.0.0.1 --port 5000 send-file local.txt upload.txt
//   tranpak-client --host 127.0.0.1 --port 5000 fetch-file upload.txt back.txt
//
// It reads the settings file like any application (Init8583). Exit codes:
// 0 done, 1 a library call failed, 2 bad usage, 3 the reply's MAC failed.
#include "../common/tool_support.h"
#include "core/mesg_state.h"
#include "packet/bitmap.h"
#include "tranpak.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tranpak;
using namespace tranpak::tools;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMac = 3;

int Usage()
{
    std::fprintf(stderr,
                 "usage: tranpak-client --host H --port P --key HEX16 TYPE [FIELD=VALUE ...]\n"
                 "       tranpak-client --host H --port P send-file LOCAL REQUEST [--binary]\n"
                 "       tranpak-client --host H --port P fetch-file REQUEST LOCAL [--binary]\n"
                 "Values: NI fields take integers, NF fields amounts (12.50), B fields hex.\n");
    return kExitUsage;
}

// Tells what failed, with the error log's lines written since `mark`.
int Fail(const char *what, long mark)
{
    std::fprintf(stderr, "tranpak-client: %s failed\n", what);
    for (const std::string &line : LinesSince(g_mesg.settings.errfile, mark))
        std::fprintf(stderr, "  %s\n", line.c_str());
    return kExitFailed;
}

void PrintReply()
{
    std::printf("reply %s\n", g_mesg.packet.txcode);
    std::printf("  %5s  %-12s %-4s %s\n", "field", "name", "type", "value");
    for (int i = 0; i < kCellCount; ++i) {
        if (!TestBit(g_mesg.packet.bitmap, i) || g_mesg.cells[i].used == 0)
            continue;
        std::printf("  %5d  %-12s %-4s %s\n", i + 1, g_mesg.cells[i].name, TypeName(g_mesg.cells[i].type),
                    FieldText(i + 1).c_str());
    }
}

int SendMessage(const std::string &host, int port, const unsigned char key[8], const std::vector<std::string> &args,
                long mark)
{
    ResetMesg();
    if (args.empty() || SetCell(0, args[0].c_str()) != 0)
        return Fail("setting the message type", mark);
    for (size_t k = 1; k < args.size(); ++k) {
        int field;
        std::string value, why;
        if (!SplitAssignment(args[k], &field, &value) || field == 0) {
            std::fprintf(stderr, "tranpak-client: expected FIELD=VALUE, got %s\n", args[k].c_str());
            return kExitUsage;
        }
        if (SetFieldText(field, value, &why) != 0) {
            if (!why.empty())
                std::fprintf(stderr, "tranpak-client: %s\n", why.c_str());
            return Fail(("setting field " + std::to_string(field)).c_str(), mark);
        }
    }
    int sock = SockConnect(host.c_str(), port);
    if (sock < 0)
        return Fail("connecting", mark);
    if (SockSendMesg(sock, key) != 0) {
        SockClose(sock);
        return Fail("sending", mark);
    }
    if (SockRecvMesg(sock, 0) != 0) {
        SockClose(sock);
        return Fail("receiving the reply", mark);
    }
    SockClose(sock);
    PrintReply();
    if (CheckMesgMac(key) != 0) {
        std::printf("MAC: FAILED\n");
        Fail("checking the reply's MAC", mark);
        return kExitMac;
    }
    std::printf("MAC: verified\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string host = "127.0.0.1", keyHex;
    int port = -1;
    bool binary = false;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--host" || a == "--port" || a == "--key") && i + 1 >= argc)
            return Usage();
        if (a == "--host")
            host = argv[++i];
        else if (a == "--port")
            port = std::atoi(argv[++i]);
        else if (a == "--key")
            keyHex = argv[++i];
        else if (a == "--binary")
            binary = true;
        else
            rest.push_back(a);
    }
    if (port < 0 || rest.empty())
        return Usage();

    if (Init8583() != 0) {
        std::fprintf(stderr, "tranpak-client: Init8583 failed (settings or definition file); see %s\n",
                     g_mesg.settings.errfile);
        return kExitFailed;
    }
    const long mark = FileSize(g_mesg.settings.errfile);

    if (rest[0] == "send-file" || rest[0] == "fetch-file") {
        if (rest.size() != 3)
            return Usage();
        bool send = rest[0] == "send-file";
        int rc = send ? (binary ? SockSendBinFile : SockSendFile)(host.c_str(), port, rest[1].c_str(), rest[2].c_str())
                      : (binary ? SockRecvBinFile : SockRecvFile)(host.c_str(), port, rest[1].c_str(), rest[2].c_str());
        if (rc != 0)
            return Fail(send ? "sending the file" : "fetching the file", mark);
        std::printf("%s %s -> %s: done\n", send ? "sent" : "fetched", rest[1].c_str(), rest[2].c_str());
        return 0;
    }

    unsigned char key[8];
    if (!ParseKey(keyHex, key)) {
        std::fprintf(stderr, "tranpak-client: --key with 16 hex digits is required\n");
        return kExitUsage;
    }
    return SendMessage(host, port, key, rest, mark);
}
