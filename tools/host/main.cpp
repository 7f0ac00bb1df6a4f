// tranpak-host: a host simulator for trying applications of the library.
//
//   tranpak-host --key 0123456789ABCDEF --defs ../etc/bitmap.txt \
//                --port 5000 --dir files --set 39=00 --set 38=123456 \
//                --rule "2=4761*,4>=1000 : 39=51"
#include "../common/cli.h"
#include "../common/installed_files.h"
#include "../common/mac_choice.h"
#include "os_programs.h"
#include "../common/tool_support.h"
#include "host.h"
#include "settings_file.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace tranpak::tools;
namespace os = tranpak::os;

namespace {

constexpr char kTool[] = "tranpak-host";
volatile std::sig_atomic_t g_stop = 0;
// How long a stopped host waits for its last log lines to be written.
constexpr int kLogFinishMillis = 500;

void OnSignal(int) { g_stop = 1; }

void Help()
{
    std::printf(
        "usage: tranpak-host --key HEX [options]\n"
        "A host simulator: answers messages and file transfers on one TCP port, serving\n"
        "many connections at the same time, each on its own.\n"
        "%s"
        "  --address A          listen address (default 127.0.0.1)\n"
        "  --port N             port, 0 to 65535 (default 0: any free port, printed)\n"
        "  --port-file F        write the port to F once listening\n"
        "  --defs F             field definition file (default ../etc/bitmap.txt when\n"
        "                       there, else the example definitions installed with\n"
        "                       the host: ../share/tranpak/examples/bitmap.txt from\n"
        "                       its own folder)\n"
        "  --settings F         speak the wire dialect of this settings file's [Wire\n"
        "                       Format] section, with the definitions its BMPFILE\n"
        "                       names unless --defs (its other sections are not read):\n"
        "                       messages are read and answered in it, a TPDU answered\n"
        "                       swapped; file transfers keep their 06 frames. LENGTH=NONE\n"
        "                       cannot be served (no length to read a message by)\n"
        "  --errlog F           also append the library's error log lines to F\n"
        "                       (default: none; every reason is in the host's own\n"
        "                       log on standard output, and nothing is written to\n"
        "                       the folder the host runs in)\n"
        "  --dir D              directory served to file transfers (default .), opened\n"
        "                       once at start; every request is opened from it, so\n"
        "                       nothing outside is read or written even while names\n"
        "                       on the way are renamed. Linux 5.6 and later: links\n"
        "                       that stay inside are followed, others refused; other\n"
        "                       systems: every link is refused; Windows: every\n"
        "                       reparse point is refused and each directory on the\n"
        "                       way is held so it cannot be renamed meanwhile\n"
        "  --client-timeout S   seconds for each frame a client sends or is sent, 1 to\n"
        "                       86400 (default 10); until a MAC verified on a\n"
        "                       connection, also for all it sends from its start\n"
        "                       however it spaces its frames; a slower client is\n"
        "                       dropped\n"
        "  --idle-timeout S     seconds a message connection may wait for its next\n"
        "                       message once a MAC verified on it, 1 to 86400\n"
        "                       (default 30); an idle connection is then ended\n"
        "  --transfer-timeout S seconds for a whole file fetch or store, 1 to 86400\n"
        "                       (default 300); a slower transfer is dropped\n"
        "  --max-clients N      connections served at the same time, 1 to 1024\n"
        "                       (default 64); more wait until one ends\n"
        "  --reply-type T       message type of every answer (default: third digit + 1)\n"
        "  --set F=V            set field F to V in every approved answer (repeatable)\n"
        "  --refuse F=V         set field F to V when the request's MAC fails\n"
        "                       (repeatable; default 39=A0 where field 39 is defined)\n"
        "  --rule \"CONDS : F=V,...\"  when every condition holds for an approved request,\n"
        "                       set these fields too, after --set; the first rule that\n"
        "                       matches applies (repeatable). Conditions: F=V, F=PREFIX*,\n"
        "                       and for NI and NF fields F<N, F<=N, F>N, F>=N, separated\n"
        "                       by commas. Example: --rule \"2=4761*,4>=1000 : 39=51\"\n"
        "                       pin=DIGITS and pin!=DIGITS test the PIN in field 52's\n"
        "                       block, read with field 2 under --pin-key:\n"
        "                       --rule \"pin!=1234 : 39=55\"\n"
        "  --pin-key HEX        the PIN key (TDES for formats 0, 1, 3; AES for 4), or\n"
        "                       with --dukpt the BDK, the key that of the request's KSN\n"
        "  --pin-format F       0, 1, 3 or 4 (default 0)\n"
        "  --dukpt              --pin-key is a DUKPT BDK; the KSN is in field 53\n"
        "  --ksn-field N        the KSN's field instead of 53\n"
        "  --fault K            late, close, bad-mac, bad-len, no-stop, garbage or\n"
        "                       duplicate (the answer sent twice)\n"
        "  --fault-every N      the fault hits one request in N, counted over all\n"
        "                       connections (default 1: all)\n"
        "  --delay-ms N         how late a late answer is (default 3000)\n"
        "  --max-connections N  stop after N connections have been accepted and have\n"
        "                       ended (default 0: never)\n"
        "  --help, --version\n"
        "Values of --set, --refuse and --rule are checked against the definition file\n"
        "when the host starts. A connection is ended after 3 refused MACs in a row,\n"
        "and a refused file request at once. Ctrl-C stops the host within a second,\n"
        "closing every connection, whatever becomes of its output. Bytes a client\n"
        "chose are shown in the log with \\xHH escapes. The log never holds up\n"
        "serving: while standard output is not read, up to 1 MiB of lines wait and\n"
        "the rest are dropped, and a line says how many once it is read again. Answers\n"
        "carry the MAC the host was started with.\n"
        "Exit codes: 0 stopped, 1 cannot start (definitions, a value of --set, --refuse\n"
        "or --rule, the settings file's [Wire Format], directory, port) or standard output\n"
        "cannot be written, 2 usage.\n",
        kMacOptionsHelp);
}

bool Number(const CliItem &it, long min, long max, int *out, std::string *error)
{
    long v;
    if (!ParseInteger(it.value, min, max, &v)) {
        *error = "--" + it.name + " takes a number from " + std::to_string(min) + " to " + std::to_string(max) +
                 ", not " + it.value;
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}

bool Assignment(const CliItem &it, FieldValues *to, std::string *error)
{
    int field;
    std::string value;
    if (!SplitAssignment(it.value, &field, &value)) {
        *error = "--" + it.name + " takes FIELD=VALUE with FIELD 1 to 128, not " + it.value;
        return false;
    }
    to->emplace_back(field, value);
    return true;
}

// Applies one option; false with *error when its value is refused.
bool Apply(const CliItem &it, HostOptions *o, std::string *portFile, bool *haveKey, bool *refuseGiven,
           std::string *error)
{
    const std::string &n = it.name, &v = it.value;
    int seconds = 0;
    if (it.operand()) {
        *error = "unexpected argument " + v;
        return false;
    }
    if (n == "key") {
        *haveKey = ParseMacKey(v, &o->mac, error);
        return *haveKey;
    }
    if (n == "mac")
        return ParseMacAlgorithm(v, &o->mac, error);
    if (n == "mac-padding")
        return ParseMacPadding(v, &o->mac, error);
    if (n == "mac-covers")
        return ParseMacCovers(v, &o->mac, error);
    if (n == "port") {
        if (!ParsePort(v, &o->port))
            *error = "--port takes a port from 0 to 65535, not " + v;
        return error->empty();
    }
    if (n == "client-timeout") {
        if (!Number(it, 1, 86400, &seconds, error))
            return false;
        o->clientTimeoutMillis = seconds * 1000;
        return true;
    }
    if (n == "idle-timeout") {
        if (!Number(it, 1, 86400, &seconds, error))
            return false;
        o->idleTimeoutMillis = seconds * 1000;
        return true;
    }
    if (n == "transfer-timeout") {
        if (!Number(it, 1, 86400, &seconds, error))
            return false;
        o->transferTimeoutMillis = seconds * 1000;
        return true;
    }
    if (n == "max-clients")
        return Number(it, 1, 1024, &o->maxClients, error);
    if (n == "refuse" && !*refuseGiven) {
        o->refuse.clear();
        *refuseGiven = true;
    }
    if (n == "set" || n == "refuse")
        return Assignment(it, n == "set" ? &o->approve : &o->refuse, error);
    if (n == "pin-key")
        return ParsePinKey(v, &o->pin, error);
    if (n == "pin-format")
        return ParsePinFormat(v, &o->pin, error);
    if (n == "ksn-field")
        return ParseKsnField(v, &o->pin, error);
    if (n == "dukpt") {
        o->pin.dukpt = true;
        return true;
    }
    if (n == "rule") {
        Rule rule;
        if (!ParseRule(v, &rule, error))
            return false;
        o->rules.push_back(rule);
        return true;
    }
    if (n == "fault") {
        if (!ParseFault(v, &o->fault))
            *error = "--fault takes late, close, bad-mac, bad-len, no-stop, garbage or duplicate, not " + v;
        return error->empty();
    }
    if (n == "fault-every")
        return Number(it, 1, 1000000, &o->faultEvery, error);
    if (n == "delay-ms")
        return Number(it, 0, 600000, &o->delayMillis, error);
    if (n == "max-connections")
        return Number(it, 0, 1000000000, &o->maxConnections, error);
    std::string *text = n == "address"     ? &o->address
                        : n == "port-file" ? portFile
                        : n == "defs"      ? &o->definitions
                        : n == "settings"  ? &o->settings
                        : n == "errlog"    ? &o->errlog
                        : n == "dir"       ? &o->dir
                                           : &o->replyType;
    *text = v;
    if (n == "reply-type" && v.size() != 4)
        *error = "--reply-type takes a message type of 4 characters, not " + v;
    return error->empty();
}

int Run(int argc, char **argv)
{
    std::vector<CliItem> items;
    std::string error;
    if (!ParseCommandLine(argc, argv,
                          {{"key", true},
                           {"mac", true},
                           {"mac-padding", true},
                           {"mac-covers", true},
                           {"address", true},
                           {"port", true},
                           {"port-file", true},
                           {"defs", true},
                           {"settings", true},
                           {"errlog", true},
                           {"dir", true},
                           {"client-timeout", true},
                           {"idle-timeout", true},
                           {"transfer-timeout", true},
                           {"max-clients", true},
                           {"reply-type", true},
                           {"set", true},
                           {"refuse", true},
                           {"rule", true},
                           {"pin-key", true},
                           {"pin-format", true},
                           {"dukpt", false},
                           {"ksn-field", true},
                           {"fault", true},
                           {"fault-every", true},
                           {"delay-ms", true},
                           {"max-connections", true},
                           {"help", false},
                           {"version", false}},
                          &items, &error))
        return UsageError(kTool, error);
    HostOptions o;
    o.definitions.clear();  // --defs, else the settings' BMPFILE, else the default
    std::string portFile;
    bool haveKey = false, refuseGiven = false;
    for (const CliItem &it : items) {
        if (it.name == "help" || it.name == "version") {
            it.name == "help" ? Help() : PrintVersion(kTool);
            return 0;
        }
        if (!Apply(it, &o, &portFile, &haveKey, &refuseGiven, &error))
            return UsageError(kTool, error);
    }
    if (!haveKey)
        return UsageError(kTool, "--key is required");
    if (const std::string fault = MacKeyFault(o.mac); !fault.empty())
        return UsageError(kTool, fault);
    if (o.pin.keyLen != 0) {
        if (const std::string fault = PinKeyFault(o.pin); !fault.empty())
            return UsageError(kTool, fault);
    } else if (o.pin.dukpt) {
        return UsageError(kTool, "--dukpt goes with --pin-key (the BDK)");
    }
    if (!refuseGiven) {
        o.refuse = {{39, "A0"}};
        o.refuseByDefault = true;
    }

    // The definitions the settings file names, as the client and the
    // decoder take them, unless --defs names others.
    if (!o.settings.empty() && o.definitions.empty()) {
        tranpak::FileSettings read{};
        tranpak::ReadFileSettings(o.settings.c_str(), &read);
        const std::string named = BesideSettings(read.bmpfile, o.settings);
        // One that is not there (a file with no BMPFILE names the default)
        // leaves the host's own default.
        if (std::ifstream(named).good())
            o.definitions = named;
    }
    if (o.definitions.empty())
        o.definitions = DefaultDefinitions();
    HostSimulator host(o);
    std::string why;
    int port = host.Start(&why);
    if (port < 0) {
        std::fprintf(stderr, "%s: %s\n", kTool, why.c_str());
        return 1;
    }
    if (!o.settings.empty())
        std::printf("%s: wire format %s\n", kTool, host.WireText().c_str());
    std::printf("%s: listening on %s:%d\n", kTool, o.address.c_str(), port);
    std::fflush(stdout);
    if (!portFile.empty() && !(std::ofstream(portFile) << port << "\n")) {
        std::fprintf(stderr, "%s: cannot write the port to %s\n", kTool, portFile.c_str());
        return 1;
    }
    os::OnStopRequest(OnSignal);
    host.Serve(&g_stop);
    const bool written = host.Finish(kLogFinishMillis);
    const int rc = host.OutputWorks() ? 0 : 1;
    if (!written) {
        // Nobody reads standard output: its writer cannot be waited for,
        // and the host is not to wait for it.
        std::fflush(stderr);
        std::_Exit(rc);
    }
    return rc;
}

}  // namespace

int main(int argc, char **argv)
{
    os::IgnoreBrokenPipe();
    return FinishOutput(kTool, Run(argc, argv));
}
