// tranpak-host: a host simulator for trying applications of the library.
//
//   tranpak-host --key 0123456789ABCDEF --defs ../etc/bitmap.txt \
//                --port 5000 --dir files --set 39=00 --set 38=123456
#include "../common/tool_support.h"
#include "host.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

using namespace tranpak::tools;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void Usage()
{
    std::fprintf(stderr,
                 "usage: tranpak-host --key HEX16 [options]\n"
                 "  --address A        listen address (default 127.0.0.1)\n"
                 "  --port N           port (default: any free port, printed)\n"
                 "  --port-file F      write the port to F once listening\n"
                 "  --defs F           field definition file (default ../etc/bitmap.txt)\n"
                 "  --errlog F         the host's own error log (default host-errlog.txt)\n"
                 "  --dir D            directory served to file transfers (default .)\n"
                 "  --reply-type T     message type of every answer (default: third digit + 1)\n"
                 "  --set F=V          set field F to V in every approved answer (repeatable)\n"
                 "  --refuse F=V       set field F to V when the request's MAC fails\n"
                 "                     (repeatable; default 39=A0)\n"
                 "  --fault K          late, close, bad-mac, bad-len, no-stop or garbage\n"
                 "  --fault-every N    the fault hits one request in N (default 1: all)\n"
                 "  --delay-ms N       how late a late answer is (default 3000)\n"
                 "  --max-connections N  stop after N connections\n");
}

}  // namespace

int main(int argc, char **argv)
{
    HostOptions o;
    std::string portFile;
    bool haveKey = false, refuseGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return argv[++i];
        };
        auto assignment = [&](std::vector<std::pair<int, std::string>> &to) {
            int field;
            std::string value;
            if (!SplitAssignment(next(), &field, &value)) {
                std::fprintf(stderr, "tranpak-host: expected FIELD=VALUE after %s\n", a.c_str());
                std::exit(2);
            }
            to.emplace_back(field, value);
        };
        if (a == "--key")
            haveKey = ParseKey(next(), o.key);
        else if (a == "--address")
            o.address = next();
        else if (a == "--port")
            o.port = std::atoi(next().c_str());
        else if (a == "--port-file")
            portFile = next();
        else if (a == "--defs")
            o.definitions = next();
        else if (a == "--errlog")
            o.errlog = next();
        else if (a == "--dir")
            o.dir = next();
        else if (a == "--reply-type")
            o.replyType = next();
        else if (a == "--set")
            assignment(o.approve);
        else if (a == "--refuse") {
            if (!refuseGiven)
                o.refuse.clear();
            refuseGiven = true;
            assignment(o.refuse);
        } else if (a == "--fault") {
            if (!ParseFault(next(), &o.fault)) {
                Usage();
                return 2;
            }
        } else if (a == "--fault-every")
            o.faultEvery = std::atoi(next().c_str());
        else if (a == "--delay-ms")
            o.delayMillis = std::atoi(next().c_str());
        else if (a == "--max-connections")
            o.maxConnections = std::atoi(next().c_str());
        else {
            Usage();
            return 2;
        }
    }
    if (!haveKey) {
        std::fprintf(stderr, "tranpak-host: --key with 16 hex digits is required\n");
        return 2;
    }
    if (!refuseGiven)
        o.refuse = {{39, "A0"}};

    HostSimulator host(o);
    std::string why;
    int port = host.Start(&why);
    if (port < 0) {
        std::fprintf(stderr, "tranpak-host: %s\n", why.c_str());
        return 1;
    }
    std::printf("tranpak-host: listening on %s:%d\n", o.address.c_str(), port);
    std::fflush(stdout);
    if (!portFile.empty())
        std::ofstream(portFile) << port << "\n";
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    host.Serve(&g_stop);
    std::printf("tranpak-host: stopped\n");
    return 0;
}
