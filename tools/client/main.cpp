// tranpak-client: sends one message, or puts a host under load with it,
// or sends or fetches one file, through the library's exported functions,
// the way an application would.
//
//   tranpak-client --host 127.0.0.1 --port 5000 --key 0123456789ABCDEF \
//                  0200 2=4761739001010119 3=000000 4=12.50 41=TERM0001
//   tranpak-client --port 5000 --key 0123456789ABCDEF --count 20000 --connections 4 0800 11=000001
//   tranpak-client --host 127.0.0.1 --port 5000 send-file local.txt upload.txt
//   tranpak-client --host 127.0.0.1 --port 5000 fetch-file upload.txt back.txt
//   tranpak-client --pack-only --key 0123456789ABCDEF 0200 2=4761739001010119 4=12.50
#include "../common/cli.h"
#include "../common/installed_files.h"
#include "../common/mac_choice.h"
#include "../common/pin_choice.h"
#include "os_programs.h"
#include "../common/shown_text.h"
#include "../common/tool_support.h"
#include "../common/wire_choice.h"
#include "failure.h"
#include "fetch.h"
#include "load.h"
#include "reply.h"
#include "request.h"
#include "settings_view.h"
#include "tranpak.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace tranpak::tools;
namespace os = tranpak::os;

namespace {

constexpr char kTool[] = "tranpak-client";
// The client's one message, started from the settings file.
TpSession g_session;
TpSession *const g_s = &g_session;
constexpr int kExitFailed = 1;
constexpr int kExitMac = 3;
constexpr int kExitMismatch = 4;
constexpr int kExitStopped = 130;
// Each connection of a load has a thread and a session (72 KiB) of its own.
constexpr long kMaxCount = 1000000000;
constexpr long kMaxConnections = 1000;
constexpr long kMaxSeconds = 86400;
// A load ends when no connection could be made for this long.
constexpr long kGiveUpSeconds = 5;
// Room for the largest frame: the start byte, four length digits, the
// 9999 bytes they can count and the stop byte.
constexpr int kFrameRoom = 1 + 4 + 9999 + 1;

// Ctrl-C or a request to terminate: the signal's number, set once, read by
// the load's threads between exchanges; and when it came, in steady-clock
// milliseconds.
std::atomic<int> g_stop{0};
std::atomic<long long> g_stopMillis{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<long long>::is_always_lock_free,
              "the stop is set from a signal handler");
// A second request this soon after the first is the same one: `timeout`
// passes a Ctrl-C on to the client and then to its whole process group, so
// the client gets it twice at once.
constexpr long long kSameStopMillis = 500;

void OnStop(int sig)
{
    const long long now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    if (g_stop.load() == 0) {
        g_stopMillis = now;
        g_stop = sig;
    } else if (now - g_stopMillis.load() >= kSameStopMillis) {
        // A later one ends the process at once, as the signal's default does.
        os::OnStopRequest(SIG_DFL);
        std::raise(sig);
        return;
    }
    os::OnStopRequest(OnStop);  // Windows resets the handler before each call
}

void Help()
{
    std::printf(
        "usage: tranpak-client --port P [options] TYPE [FIELD=VALUE ...]\n"
        "       tranpak-client --port P [options] send-file LOCAL REQUEST\n"
        "       tranpak-client --port P [options] fetch-file REQUEST LOCAL\n"
        "       tranpak-client --pack-only [options] TYPE [FIELD=VALUE ...]\n"
        "Sends one message and prints the reply (card data masked), or sends it many\n"
        "times and prints a summary, or sends or fetches one file. Values: NI fields\n"
        "take integers (32 bits), NF fields amounts (12.50), B fields hex.\n"
        "  --host H          host address (default 127.0.0.1)\n"
        "  --port P          port, 0 to 65535 (required)\n"
        "%s%s"
        "  --settings F      settings file to read instead of the built-in path; its\n"
        "                    BMPFILE, when not found from the current folder, is\n"
        "                    looked for beside it (its ERRFILE and CTRACEFILE are\n"
        "                    from the current folder, as the library takes them);\n"
        "                    messages go and come in the wire dialect of its [Wire\n"
        "                    Format] section, with --defs too, --pack-only included\n"
        "  --defs F          field definition file, over the settings' BMPFILE\n"
        "                    (without both: ../etc/bitmap.txt when there, else the\n"
        "                    example definitions installed with the client)\n"
        "  --pack-only       no host: print the request's frame in hex, as it would\n"
        "                    be sent (MAC included), and end; tranpak-trace --frame\n"
        "                    describes it\n"
        "  --reply-type T    the reply type to expect (default: the request's with its\n"
        "                    third digit raised by one, 0200 -> 0210)\n"
        "  --recv-timeout S  seconds to wait for a reply (in a load: each reply), 1 to\n"
        "                    86400 (default: the settings' [Com Timeout] RECV, else 10)\n"
        "  --unmask          show card data (fields 2, 14, 35, 36, 45, 52) in clear\n"
        "  --pin PIN         put the ISO 9564-1 PIN block of PIN (4 to 12 digits) and\n"
        "                    the request's field 2 (the PAN) into field 52\n"
        "  --pin-key HEX     its key: triple DES (32 or 48 hex digits) for formats 0,\n"
        "                    1 and 3, AES (32, 48 or 64) for format 4; with --ksn a\n"
        "                    DUKPT BDK, the block made under the KSN's PIN key\n"
        "  --pin-format F    0, 1, 3 or 4 (default 0); field 52 must be B 8, or B 16\n"
        "                    for format 4\n"
        "  --ksn HEX         the DUKPT KSN: 20 hex digits (TDES, formats 0, 1, 3) or\n"
        "                    24 (AES, format 4); it travels in field 53\n"
        "  --ksn-field N     the KSN's field instead of 53 (B of the KSN's bytes, or\n"
        "                    text of its hex digits)\n"
        "  --json            print the reply (or a load's summary) as one JSON object;\n"
        "                    a reply as TpDescribe gives a message ({\"type\": ...,\n"
        "                    \"fields\": {\"2\": {\"name\": ..., \"type\": ..., \"value\":\n"
        "                    ...}}}) with \"mac\" and \"answers_request\" after them\n"
        "  --text            transfer files as text: sending drops every CR and ends the\n"
        "                    file at a 0x1A byte; fetching puts a CR before every LF\n"
        "  --binary          transfer files byte for byte (the default)\n"
        "Load: with --count above 1 every reply's MAC is checked and the reply matched\n"
        "to its request by fields 11 and 41; field 11 (digits) goes up by one for each\n"
        "exchange. A summary follows: exchanges done and failed, failures by reason,\n"
        "exchanges per second, latency min, p50, p90, p99, p99.9 and max.\n"
        "  --count N         send the message N times, 1 to 1000000000 (default 1)\n"
        "  --connections C   over C connections at once, 1 to 1000, each on its own\n"
        "                    thread and kept open (default 1)\n"
        "  --connect-each    connect for every exchange instead, as many terminals do\n"
        "  --progress        done, failed and rate on standard error once a second\n"
        "                    (default: only when standard error is a terminal)\n"
        "  --no-progress     no progress line\n"
        "  --give-up S       end the load when no connection could be made for S\n"
        "                    seconds, 1 to 86400 (default 5); one the host closes\n"
        "                    before its first answer counts as not made. After a\n"
        "                    failed connect or such a close the next connect waits\n"
        "                    10 ms, doubling up to 500 ms until a connection is made\n"
        "  --help, --version\n"
        "e.g. tranpak-client --port 5000 --key 0123456789ABCDEF --count 20000 \\\n"
        "         --connections 4 0800 11=000001 41=TERM0001\n"
        "A reply that repeats the previous exchange's (a duplicate) is read past and\n"
        "counted, not charged to the exchange that meets it.\n"
        "Ctrl-C (or SIGTERM) ends a load or a fetch early, within a second whatever the\n"
        "host does: a load still prints its summary, the exchanges in flight left out;\n"
        "a fetch removes its own temporary file. A second Ctrl-C within 0.5 s is taken\n"
        "for the same one (timeout(1) passes one on twice); a later one ends at once.\n"
        "Exit codes: 0 done, 1 a library call failed (with --count above 1: an exchange\n"
        "failed, or no connection could be made for --give-up seconds), 2 usage, 3 the\n"
        "reply's MAC failed, 4 the reply does not answer the request (type, or field 11\n"
        "or 41 changed), 130 stopped by Ctrl-C or SIGTERM.\n",
        kMacOptionsHelp, kMacFromSettingsHelp);
}

struct Args {
    std::string host = "127.0.0.1", keyHex, settings, defs, replyType, mac, macPadding, macCovers;
    int port = -1;
    bool text = false, unmask = false, json = false, packOnly = false;
    long count = 1, connections = 1;
    long recvSeconds = 0;  // 0: the settings' RECV, else kRecvSeconds
    long giveUpSeconds = kGiveUpSeconds;
    bool connectEach = false;
    int progress = -1;  // -1: when standard error is a terminal; 0 never; 1 always
    std::vector<std::string> rest;
    std::string pin;  // --pin: the PIN whose block goes into field 52
    std::string ksn;  // --ksn, as bytes: the key is then a DUKPT BDK
    PinChoice pinChoice;
    bool pinKeyGiven = false;
};

// How long the attempt that finds why a connection failed may take.
constexpr int kProbeMillis = 1000;

// The error log the library writes to, as the settings name it.
std::string g_errfile;
// The settings file's [Wire Format], set on every session the client
// starts (TpInit8583With starts one in the seed's dialect).
WireChoice g_wire;

// Tells what failed: the library's reason, taken right after the call that
// failed, then the error log's new lines, each escaped.
int Fail(const std::string &what, const Failure &failure, long mark)
{
    std::fprintf(stderr, "%s: %s failed%s%s\n", kTool, what.c_str(), failure.category != 0 ? ": " : "",
                 failure.reason.c_str());
    PrintDetail(kTool, failure);
    for (const std::string &line : LinesSince(g_errfile, mark))
        std::fprintf(stderr, "  %s\n", ControlsEscaped(line).c_str());
    return kExitFailed;
}

std::string Absolute(const std::string &path)
{
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

// A failed connection with the system's reason beside the library's words
// ("tranpak: connect error (Connection refused)").
Failure WithConnectReason(Failure failure, const Args &a)
{
    if (failure.category != TRANPAK_ERR_CONNECT)
        return failure;
    char text[os::kSystemTextSize];
    const std::string problem = os::ConnectProblem(a.host.c_str(), a.port, kProbeMillis, text, sizeof text);
    if (!problem.empty())
        failure.reason += " (" + problem + ")";
    return failure;
}

int InitFailed(TpSession *s, const SettingsView &settings)
{
    const Failure failure = LastFailure(s);
    // A settings file that is not there is no error to the library, which
    // then looks for its default files: a mistyped --settings shows here.
    std::error_code ec;
    const bool missing = settings.pathFits && !std::filesystem::exists(settings.path, ec);
    std::fprintf(
        stderr, "%s: Init8583 failed: %s; settings file %s%s, definitions %s, error log %s, wire format %s\n", kTool,
        failure.reason.c_str(), settings.pathFits ? Absolute(settings.path).c_str() : "(TRANPAK_SETTINGS too long)",
        missing ? " (no such file)" : "",
        !settings.bmpfile.empty() ? Absolute(settings.bmpfile).c_str() : "(none read)",
        !settings.errfile.empty() ? Absolute(settings.errfile).c_str() : "(none read)", WireSummary(g_wire).c_str());
    PrintDetail(kTool, failure);
    return kExitFailed;
}

// The request on the session; kExitUsage or kExitFailed when it cannot be set.
int PutRequest(TpSession *s, const Args &a, long mark)
{
    std::string why;
    const int rc = SetRequest(s, a.rest, &why);
    if (rc == kExitUsage)
        return UsageError(kTool, why);
    if (rc != 0)
        return Fail(why, LastFailure(s), mark);
    if (!a.pin.empty() && !PutPinBlock(s, a.pinChoice, a.pin, a.ksn, &why))
        return UsageError(kTool, why);
    return 0;
}

int SendMessage(const Args &a, const unsigned char *key, long mark)
{
    if (int rc = PutRequest(g_s, a, mark); rc != 0)
        return rc;
    const RequestEcho request = RememberRequest(g_s, a.rest[0]);
    int sock = TpSockConnect(g_s, a.host.c_str(), a.port);
    if (sock < 0)
        return Fail("connecting", WithConnectReason(LastFailure(g_s), a), mark);
    if (TpSockSendMesg(g_s, sock, key) != 0) {
        const Failure failure = LastFailure(g_s);
        TpSockClose(g_s, sock);
        return Fail("sending", failure, mark);
    }
    if (TpSockRecvMesg(g_s, sock) != 0) {
        const Failure failure = LastFailure(g_s);
        TpSockClose(g_s, sock);
        return Fail("receiving the reply", failure, mark);
    }
    TpSockClose(g_s, sock);
    const bool macOk = TpCheckMesgMac(g_s, key) == 0;
    const Failure macFailure = LastFailure(g_s);
    const std::string mismatch = ReplyMismatch(g_s, request, a.replyType);
    const std::set<int> &masked = DefaultMaskedFields();
    if (a.json)
        std::printf("%s\n", ReplyJson(g_s, a.unmask, macOk ? "verified" : "failed", mismatch).c_str());
    else
        std::printf("%sMAC: %s\n", ReplyTable(g_s, masked, a.unmask).c_str(), macOk ? "verified" : "FAILED");
    if (!macOk) {
        Fail("checking the reply's MAC", macFailure, mark);
        return kExitMac;
    }
    if (!mismatch.empty()) {
        std::fprintf(stderr, "%s: the reply does not answer the request: %s\n", kTool, mismatch.c_str());
        return kExitMismatch;
    }
    return 0;
}

int SendLoad(const Args &a, const MacChoice &mac, long mark, const SettingsView &settings)
{
    // The operands are checked once on the client's own session.
    if (int rc = PutRequest(g_s, a, mark); rc != 0)
        return rc;
    TraceNumbers numbers;
    std::string why;
    if (!numbers.Read(g_s, &why))
        return UsageError(kTool, why);
    const long connections = std::min(a.connections, a.count);
    // Each connection waits a bounded time for its reply, so one whose
    // host stopped answering fails and lets the load go on.
    const TpSettings sessionSettings = ExchangeSettings(settings, static_cast<int>(a.recvSeconds));
    std::vector<std::unique_ptr<TpSession>> owned;
    std::vector<TpSession *> sessions;
    for (long k = 0; k < connections; ++k) {
        owned.push_back(std::make_unique<TpSession>());
        TpSession *s = owned.back().get();
        sessions.push_back(s);
        if (TpInit8583With(s, &sessionSettings) != 0 || !UseWire(s, g_wire))
            return InitFailed(s, settings);
        UseMac(s, mac);
        if (SetRequest(s, a.rest, &why) != 0 || TpBackupMesg(s) != 0)
            return Fail(why, LastFailure(s), mark);
    }
    LoadPlan plan;
    plan.host = a.host;
    plan.port = a.port;
    std::copy(mac.key, mac.key + sizeof mac.key, plan.key);
    plan.type = a.rest[0];
    plan.replyType = a.replyType;
    plan.count = a.count;
    plan.connectEach = a.connectEach;
    plan.progress = a.progress < 0 ? os::StderrIsTerminal() : a.progress == 1;
    plan.giveUpMillis = static_cast<int>(a.giveUpSeconds * 1000);
    os::OnStopRequest(OnStop);
    const LoadResult r = RunLoad(plan, sessions, numbers, g_stop);
    if (r.unfinished == 0)
        for (TpSession *s : sessions)
            TpWipe(s);  // keys and card data
    if (r.gaveUpSeconds > 0)
        std::fprintf(stderr, "%s: %s connection to %s:%d %s for %d s: the load ends\n", kTool,
                     r.closedUnanswered ? "every" : "no", Escaped(a.host).c_str(), a.port,
                     r.closedUnanswered ? "was closed before an answer" : "could be made", r.gaveUpSeconds);
    std::printf("%s", a.json ? (SummaryJson(r) + "\n").c_str() : SummaryText(r).c_str());
    for (int k = 0; k < kFailureKinds; ++k)
        if (r.failures[k] > 0)
            std::fprintf(stderr, "%s: first failure (%s): %s\n", kTool, FailureName(k), r.firstReason[k].c_str());
    const int rc = r.stopped ? kExitStopped : r.failed > 0 || r.gaveUpSeconds > 0 ? kExitFailed : 0;
    if (r.unfinished > 0) {
        // Threads still wait in the library on these sessions: the process
        // ends here, with nothing destroyed under them.
        std::fflush(stderr);
        std::_Exit(FinishOutput(kTool, rc));
    }
    return rc;
}

// Ends the process after a fetch cut short: the library's call still runs
// on its thread and must not be waited for.
[[noreturn]] void EndStoppedFetch(const Args &a, const std::vector<std::string> &left)
{
    std::fprintf(stderr, "%s: stopped: the fetch of %s was cut short\n", kTool, Escaped(a.rest[1]).c_str());
    for (const std::string &path : left)
        std::fprintf(stderr, "%s: %s may be this fetch's temporary file; it was not removed\n", kTool,
                     Escaped(path).c_str());
    std::fflush(stderr);
    std::_Exit(FinishOutput(kTool, kExitStopped));
}

int Transfer(const Args &a, long mark)
{
    if (a.rest.size() != 3)
        return UsageError(kTool, a.rest[0] + " takes two arguments");
    const bool send = a.rest[0] == "send-file";
    const char *one = a.rest[1].c_str(), *two = a.rest[2].c_str();
    int rc;
    if (send) {
        rc = (a.text ? TpSockSendFile : TpSockSendBinFile)(g_s, a.host.c_str(), a.port, one, two);
    } else {
        os::OnStopRequest(OnStop);
        std::vector<std::string> left;
        const FetchEnd end = FetchStoppable(g_s, a.host, a.port, one, two, a.text, g_stop, &left);
        if (end == FetchEnd::kStopped)
            EndStoppedFetch(a, left);
        rc = end == FetchEnd::kDone ? 0 : -1;
    }
    if (rc != 0)
        return Fail(send ? "sending the file" : "fetching the file", WithConnectReason(LastFailure(g_s), a), mark);
    std::printf("%s %s -> %s: done (%s)\n", send ? "sent" : "fetched", Escaped(a.rest[1]).c_str(),
                Escaped(a.rest[2]).c_str(), a.text ? "text" : "binary");
    return 0;
}

// The options that take numbers; false with the usage error's text.
bool ReadNumber(const CliItem &it, Args *a, std::string *error)
{
    if (it.name == "port" && !ParsePort(it.value, &a->port))
        *error = "--port takes a port from 0 to 65535, not " + it.value;
    else if (it.name == "count" && !ParseInteger(it.value, 1, kMaxCount, &a->count))
        *error = "--count takes a number from 1 to " + std::to_string(kMaxCount) + ", not " + it.value;
    else if (it.name == "connections" && !ParseInteger(it.value, 1, kMaxConnections, &a->connections))
        *error = "--connections takes a number from 1 to " + std::to_string(kMaxConnections) + ", not " + it.value;
    else if (it.name == "recv-timeout" && !ParseInteger(it.value, 1, kMaxSeconds, &a->recvSeconds))
        *error = "--recv-timeout takes a number from 1 to " + std::to_string(kMaxSeconds) + ", not " + it.value;
    else if (it.name == "give-up" && !ParseInteger(it.value, 1, kMaxSeconds, &a->giveUpSeconds))
        *error = "--give-up takes a number from 1 to " + std::to_string(kMaxSeconds) + ", not " + it.value;
    return error->empty();
}

// What --pack-only cannot go with; 0 when the rest fits it.
int PackOnlyArgsFault(const Args &a)
{
    if (a.rest.empty())
        return UsageError(kTool, "--pack-only takes a message type and fields");
    if (a.rest[0] == "send-file" || a.rest[0] == "fetch-file")
        return UsageError(kTool, "--pack-only packs a message, not " + a.rest[0]);
    if (a.count > 1)
        return UsageError(kTool, "--pack-only packs one message; --count does not go with it");
    return 0;
}

int ReadArgs(int argc, char **argv, Args *a, bool *done)
{
    std::vector<CliItem> items;
    std::string error;
    if (!ParseCommandLine(
            argc, argv, {{"host", true},          {"port", true},       {"key", true},          {"mac", true},
                         {"mac-padding", true},   {"mac-covers", true}, {"settings", true},     {"defs", true},
                         {"pack-only", false},    {"reply-type", true}, {"unmask", false},      {"json", false},
                         {"text", false},         {"binary", false},    {"count", true},        {"connections", true},
                         {"connect-each", false}, {"progress", false},  {"no-progress", false}, {"recv-timeout", true},
                         {"give-up", true},       {"pin", true},        {"pin-key", true},      {"pin-format", true},
                         {"ksn", true},           {"ksn-field", true},  {"help", false},        {"version", false}},
            &items, &error))
        return UsageError(kTool, error);
    for (const CliItem &it : items) {
        if (it.name == "help" || it.name == "version") {
            it.name == "help" ? Help() : PrintVersion(kTool);
            *done = true;
            return 0;
        }
        if (it.operand())
            a->rest.push_back(it.value);
        else if (!ReadNumber(it, a, &error))
            return UsageError(kTool, error);
        else if (it.name == "reply-type" && it.value.size() != 4)
            return UsageError(kTool, "--reply-type takes a message type of 4 characters, not " + it.value);
        if (it.name == "host")
            a->host = it.value;
        else if (it.name == "key")
            a->keyHex = it.value;
        else if (it.name == "mac")
            a->mac = it.value;
        else if (it.name == "mac-padding")
            a->macPadding = it.value;
        else if (it.name == "mac-covers")
            a->macCovers = it.value;
        else if (it.name == "settings")
            a->settings = it.value;
        else if (it.name == "defs")
            a->defs = it.value;
        else if (it.name == "reply-type")
            a->replyType = it.value;
        else if (it.name == "pin")
            a->pin = it.value;
        else if (it.name == "pin-key" && !ParsePinKey(it.value, &a->pinChoice, &error))
            return UsageError(kTool, error);
        else if (it.name == "pin-format" && !ParsePinFormat(it.value, &a->pinChoice, &error))
            return UsageError(kTool, error);
        else if (it.name == "ksn-field" && !ParseKsnField(it.value, &a->pinChoice, &error))
            return UsageError(kTool, error);
        else if (it.name == "ksn" && (!ParseHex(HexUngrouped(it.value), &a->ksn) || a->ksn.empty()))
            return UsageError(kTool, "--ksn takes the KSN in hex digits (20 for TDES, 24 for AES), not " + it.value);
        a->pinKeyGiven = a->pinKeyGiven || it.name == "pin-key";
        a->text = it.name == "text" ? true : it.name == "binary" ? false : a->text;
        a->progress = it.name == "progress" ? 1 : it.name == "no-progress" ? 0 : a->progress;
        a->unmask = a->unmask || it.name == "unmask";
        a->json = a->json || it.name == "json";
        a->connectEach = a->connectEach || it.name == "connect-each";
        a->packOnly = a->packOnly || it.name == "pack-only";
    }
    a->pinChoice.dukpt = !a->ksn.empty();
    if (!a->pin.empty() || a->pinKeyGiven || !a->ksn.empty()) {
        if (a->pin.empty() || !a->pinKeyGiven)
            return UsageError(kTool, "--pin and --pin-key go together (and --pin-format, --ksn with them)");
        if (const std::string fault = PinKeyFault(a->pinChoice); !fault.empty())
            return UsageError(kTool, fault);
        if (!a->ksn.empty() && static_cast<int>(a->ksn.size()) != KsnLength(a->pinChoice))
            return UsageError(kTool, "--ksn takes " + std::to_string(2 * KsnLength(a->pinChoice)) + " hex digits for " +
                                         (a->pinChoice.format == TP_PIN_FORMAT_4 ? "AES" : "TDES") + " DUKPT");
        if (a->count > 1)
            return UsageError(kTool, "--pin goes with a single message, not --count");
    }
    if (a->packOnly)
        return PackOnlyArgsFault(*a);
    if (a->port < 0)
        return UsageError(kTool, "--port is required");
    if (a->rest.empty())
        return UsageError(kTool, "give a message type, send-file or fetch-file");
    return 0;
}

// The definitions the client reads: --defs; else the settings' BMPFILE,
// from the current folder or beside the settings file; else, with no
// settings file, the library's default when it is there, or the example
// definitions installed with the client.
void ChooseDefinitions(const Args &a, SettingsView *settings)
{
    if (!a.defs.empty()) {
        settings->bmpfile = a.defs;
        return;
    }
    if (!settings->read)
        return;
    std::error_code ec;
    if (std::filesystem::exists(settings->path, ec))
        settings->bmpfile = BesideSettings(settings->bmpfile, settings->path);
    else if (settings->bmpfile == kLibraryDefinitions)
        settings->bmpfile = DefaultDefinitions();
}

// Packs the request as it would be sent and prints the frame in hex.
int PackOnly(const Args &a, const unsigned char *key, long mark)
{
    if (int rc = PutRequest(g_s, a, mark); rc != 0)
        return rc;
    unsigned char frame[kFrameRoom];
    int length = 0;
    if (TpPackMesg(g_s, key, frame, sizeof frame, &length) != 0)
        return Fail("packing the message", LastFailure(g_s), mark);
    std::printf("%s\n", ToHex(frame, static_cast<size_t>(length)).c_str());
    TpWipe(g_s);  // keys and card data
    return 0;
}

int Run(const Args &a)
{
    // The library finds the file through the variable, as it would for
    // any application started with it.
    if (!a.settings.empty() && os::SetEnvVar("TRANPAK_SETTINGS", a.settings.c_str()) != 0)
        return UsageError(kTool, "cannot use --settings " + a.settings);
    SettingsView settings = ViewSettings();
    // The dialect is the settings file's whoever reads the definitions; a
    // value at fault is left for the library to refuse, in its words.
    std::error_code ec;
    if (settings.read && std::filesystem::is_regular_file(settings.path, ec)) {
        std::string ignored;
        ReadWireChoice(settings.path, &g_wire, &ignored);
    }
    const std::string libraryDefinitions = settings.bmpfile;
    ChooseDefinitions(a, &settings);
    // The library reads the settings file itself unless the definitions
    // are the client's choice.
    const TpSettings chosen = ExchangeSettings(settings, 0);
    const int rc = settings.bmpfile == libraryDefinitions ? TpInit8583(g_s, nullptr) : TpInit8583With(g_s, &chosen);
    if (rc != 0 || !UseWire(g_s, g_wire))
        return InitFailed(g_s, settings);
    g_errfile = settings.errfile;
    const long mark = FileSize(g_errfile);
    if (a.rest[0] == "send-file" || a.rest[0] == "fetch-file")
        return Transfer(a, mark);
    // The MAC: --mac, --mac-padding and --mac-covers over the settings
    // file's [MAC], and as many key bytes as --key gives. Another algorithm
    // by --mac leaves the file's KEYLEN and COVERS, which were the file's
    // algorithm's, behind.
    MacChoice mac;
    std::string error;
    if (a.keyHex.empty())
        return UsageError(kTool, "--key is required for a message");
    if (settings.read && !MacFromSettings(settings.path, &mac, &error))
        return UsageError(kTool, error);
    if (!a.mac.empty()) {
        mac.covers = 0;
        mac.settingsKeyLen = 0;
    }
    if ((!a.mac.empty() && !ParseMacAlgorithm(a.mac, &mac, &error)) ||
        (!a.macPadding.empty() && !ParseMacPadding(a.macPadding, &mac, &error)) ||
        (!a.macCovers.empty() && !ParseMacCovers(a.macCovers, &mac, &error)) || !ParseMacKey(a.keyHex, &mac, &error))
        return UsageError(kTool, error);
    if (const std::string fault = MacKeyFault(mac); !fault.empty())
        return UsageError(kTool, fault);
    // A single message waits a bounded time for its reply, as a load does:
    // the session starts again from the same settings with that limit.
    const TpSettings limited = ExchangeSettings(settings, static_cast<int>(a.recvSeconds));
    if (TpInit8583With(g_s, &limited) != 0 || !UseWire(g_s, g_wire))
        return InitFailed(g_s, settings);
    if (!UseMac(g_s, mac))
        return Fail("choosing the MAC", LastFailure(g_s), mark);
    if (a.packOnly)
        return PackOnly(a, mac.key, mark);
    return a.count > 1 ? SendLoad(a, mac, mark, settings) : SendMessage(a, mac.key, mark);
}

}  // namespace

int main(int argc, char **argv)
{
    os::IgnoreBrokenPipe();
    // The library is linked in, not loaded as a DLL, so its load-time
    // start-up of Windows Sockets does not run: the client asks itself.
    os::SockStartup(2, 2);
    Args args;
    bool done = false;
    int rc = ReadArgs(argc, argv, &args, &done);
    if (rc != 0 || done)
        return FinishOutput(kTool, rc);
    return FinishOutput(kTool, Run(args));
}
