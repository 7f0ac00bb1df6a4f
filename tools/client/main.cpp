// tranpak-client: sends one message, or sends or fetches one file, through
// the library's exported functions, the way an application would.
//
//   tranpak-client --host 127.0.0.1 --port 5000 --key 0123456789ABCDEF \
//                  0200 2=4761739001010119 3=000000 4=12.50 41=TERM0001
//   tranpak-client --host 127.0.0.1 --port 5000 send-file local.txt upload.txt
//   tranpak-client --host 127.0.0.1 --port 5000 fetch-file upload.txt back.txt
#include "../common/cli.h"
#include "../common/os.h"
#include "../common/shown_text.h"
#include "../common/tool_support.h"
#include "reply.h"
#include "settings_view.h"
#include "tranpak.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace tranpak::tools;

namespace {

constexpr char kTool[] = "tranpak-client";
// The client's one message, started from the settings file.
TpSession g_session;
TpSession *const g_s = &g_session;
constexpr int kExitFailed = 1;
constexpr int kExitMac = 3;
constexpr int kExitMismatch = 4;

void Help()
{
    std::printf(
        "usage: tranpak-client --port P [options] TYPE [FIELD=VALUE ...]\n"
        "       tranpak-client --port P [options] send-file LOCAL REQUEST\n"
        "       tranpak-client --port P [options] fetch-file REQUEST LOCAL\n"
        "Sends one message and prints the reply (card data masked), or sends or fetches\n"
        "one file. Values: NI fields take integers, NF fields amounts (12.50), B fields hex.\n"
        "  --host H          host address (default 127.0.0.1)\n"
        "  --port P          port, 0 to 65535 (required)\n"
        "  --key HEX16       MAC key (required for messages)\n"
        "  --settings F      settings file to read instead of the built-in path\n"
        "  --reply-type T    the reply type to expect (default: the request's with its\n"
        "                    third digit raised by one, 0200 -> 0210)\n"
        "  --unmask          show card data (fields 2, 14, 35, 36, 45, 52) in clear\n"
        "  --json            print the reply as one JSON object\n"
        "  --text            transfer files as text: sending drops every CR and ends the\n"
        "                    file at a 0x1A byte; fetching puts a CR before every LF\n"
        "  --binary          transfer files byte for byte (the default)\n"
        "  --help, --version\n"
        "Exit codes: 0 done, 1 a library call failed, 2 usage, 3 the reply's MAC failed,\n"
        "4 the reply does not answer the request (type, or field 11 or 41 changed).\n");
}

struct Args {
    std::string host = "127.0.0.1", keyHex, settings, replyType;
    int port = -1;
    bool text = false, unmask = false, json = false;
    std::vector<std::string> rest;
};

// The error log the library writes to, as the settings name it.
std::string g_errfile;

// Tells what failed: the library's reason, then the error log's new lines.
int Fail(const std::string &what, long mark)
{
    char reason[300] = {};
    const int category = TpGetLastErrMesg(g_s, reason, sizeof reason);
    std::fprintf(stderr, "%s: %s failed%s%s\n", kTool, what.c_str(), category != 0 ? ": " : "", reason);
    for (const std::string &line : LinesSince(g_errfile, mark))
        std::fprintf(stderr, "  %s\n", line.c_str());
    return kExitFailed;
}

std::string Absolute(const std::string &path)
{
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

int InitFailed(const SettingsView &settings)
{
    char reason[300] = {};
    TpGetLastErrMesg(g_s, reason, sizeof reason);
    std::fprintf(stderr, "%s: Init8583 failed: %s; settings file %s, definitions %s, error log %s\n", kTool, reason,
                 settings.pathFits ? Absolute(settings.path).c_str() : "(TRANPAK_SETTINGS too long)",
                 !settings.bmpfile.empty() ? Absolute(settings.bmpfile).c_str() : "(none read)",
                 !settings.errfile.empty() ? Absolute(settings.errfile).c_str() : "(none read)");
    return kExitFailed;
}

int SendMessage(const Args &a, const unsigned char key[8], long mark)
{
    TpResetMesg(g_s);
    if (TpSetCell(g_s, 0, a.rest[0].c_str()) != 0)
        return Fail("setting the message type", mark);
    for (size_t k = 1; k < a.rest.size(); ++k) {
        int field;
        std::string value, why;
        if (!SplitAssignment(a.rest[k], &field, &value) || field == 0)
            return UsageError(kTool, "expected FIELD=VALUE with FIELD 1 to 64, got " + a.rest[k]);
        if (SetFieldText(g_s, field, value, &why) != 0) {
            if (!why.empty())
                return UsageError(kTool, why);
            return Fail("setting field " + std::to_string(field), mark);
        }
    }
    const RequestEcho request = RememberRequest(g_s, a.rest[0]);
    int sock = TpSockConnect(g_s, a.host.c_str(), a.port);
    if (sock < 0)
        return Fail("connecting", mark);
    if (TpSockSendMesg(g_s, sock, key) != 0) {
        TpSockClose(g_s, sock);
        return Fail("sending", mark);
    }
    if (TpSockRecvMesg(g_s, sock) != 0) {
        TpSockClose(g_s, sock);
        return Fail("receiving the reply", mark);
    }
    TpSockClose(g_s, sock);
    const bool macOk = TpCheckMesgMac(g_s, key) == 0;
    const std::string mismatch = ReplyMismatch(g_s, request, a.replyType);
    const std::set<int> &masked = DefaultMaskedFields();
    if (a.json)
        std::printf("%s\n", ReplyJson(g_s, masked, a.unmask, macOk ? "verified" : "failed", mismatch).c_str());
    else
        std::printf("%sMAC: %s\n", ReplyTable(g_s, masked, a.unmask).c_str(), macOk ? "verified" : "FAILED");
    if (!macOk) {
        Fail("checking the reply's MAC", mark);
        return kExitMac;
    }
    if (!mismatch.empty()) {
        std::fprintf(stderr, "%s: the reply does not answer the request: %s\n", kTool, mismatch.c_str());
        return kExitMismatch;
    }
    return 0;
}

int Transfer(const Args &a, long mark)
{
    if (a.rest.size() != 3)
        return UsageError(kTool, a.rest[0] + " takes two arguments");
    const bool send = a.rest[0] == "send-file";
    const char *one = a.rest[1].c_str(), *two = a.rest[2].c_str();
    const int rc = send ? (a.text ? TpSockSendFile : TpSockSendBinFile)(g_s, a.host.c_str(), a.port, one, two)
                        : (a.text ? TpSockRecvFile : TpSockRecvBinFile)(g_s, a.host.c_str(), a.port, one, two);
    if (rc != 0)
        return Fail(send ? "sending the file" : "fetching the file", mark);
    std::printf("%s %s -> %s: done (%s)\n", send ? "sent" : "fetched", Escaped(a.rest[1]).c_str(),
                Escaped(a.rest[2]).c_str(), a.text ? "text" : "binary");
    return 0;
}

int ReadArgs(int argc, char **argv, Args *a, bool *done)
{
    std::vector<CliItem> items;
    std::string error;
    if (!ParseCommandLine(argc, argv,
                          {{"host", true}, {"port", true}, {"key", true}, {"settings", true}, {"reply-type", true},
                           {"unmask", false}, {"json", false}, {"text", false}, {"binary", false}, {"help", false},
                           {"version", false}},
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
        else if (it.name == "port" && !ParsePort(it.value, &a->port))
            return UsageError(kTool, "--port takes a port from 0 to 65535, not " + it.value);
        else if (it.name == "reply-type" && it.value.size() != 4)
            return UsageError(kTool, "--reply-type takes a message type of 4 characters, not " + it.value);
        if (it.name == "host")
            a->host = it.value;
        else if (it.name == "key")
            a->keyHex = it.value;
        else if (it.name == "settings")
            a->settings = it.value;
        else if (it.name == "reply-type")
            a->replyType = it.value;
        a->text = it.name == "text" ? true : it.name == "binary" ? false : a->text;
        a->unmask = a->unmask || it.name == "unmask";
        a->json = a->json || it.name == "json";
    }
    if (a->port < 0)
        return UsageError(kTool, "--port is required");
    if (a->rest.empty())
        return UsageError(kTool, "give a message type, send-file or fetch-file");
    return 0;
}

int Run(const Args &a)
{
    // The library finds the file through the variable, as it would for
    // any application started with it.
    if (!a.settings.empty() && !os::SetEnvVar("TRANPAK_SETTINGS", a.settings.c_str()))
        return UsageError(kTool, "cannot use --settings " + a.settings);
    const int rc = TpInit8583(g_s, nullptr);
    const SettingsView settings = ViewSettings();
    if (rc != 0)
        return InitFailed(settings);
    g_errfile = settings.errfile;
    const long mark = FileSize(g_errfile);
    if (a.rest[0] == "send-file" || a.rest[0] == "fetch-file")
        return Transfer(a, mark);
    unsigned char key[8];
    if (!ParseKey(a.keyHex, key))
        return UsageError(kTool, "--key with 16 hex digits is required for a message");
    return SendMessage(a, key, mark);
}

}  // namespace

int main(int argc, char **argv)
{
    os::IgnoreBrokenPipe();
    Args args;
    bool done = false;
    int rc = ReadArgs(argc, argv, &args, &done);
    if (rc != 0 || done)
        return FinishOutput(kTool, rc);
    return FinishOutput(kTool, Run(args));
}
