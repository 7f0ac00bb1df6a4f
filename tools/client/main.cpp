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
#include "core/mesg_state.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "reply.h"
#include "tranpak.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace tranpak;
using namespace tranpak::tools;

namespace {

constexpr char kTool[] = "tranpak-client";
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

// Tells what failed: the library's reason, then the error log's new lines.
int Fail(const std::string &what, long mark)
{
    char reason[300] = {};
    const int category = GetLastErrMesg(reason, sizeof reason);
    std::fprintf(stderr, "%s: %s failed%s%s\n", kTool, what.c_str(), category != 0 ? ": " : "", reason);
    for (const std::string &line : LinesSince(g_mesg.settings.errfile, mark))
        std::fprintf(stderr, "  %s\n", line.c_str());
    return kExitFailed;
}

std::string Absolute(const char *path)
{
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

int InitFailed()
{
    char reason[300] = {};
    GetLastErrMesg(reason, sizeof reason);
    const char *settings = SettingsFilePath();
    std::fprintf(stderr, "%s: Init8583 failed: %s; settings file %s, definitions %s, error log %s\n", kTool, reason,
                 settings ? Absolute(settings).c_str() : "(TRANPAK_SETTINGS too long)",
                 g_mesg.settings.bmpfile[0] ? Absolute(g_mesg.settings.bmpfile).c_str() : "(none read)",
                 g_mesg.settings.errfile[0] ? Absolute(g_mesg.settings.errfile).c_str() : "(none read)");
    return kExitFailed;
}

int SendMessage(const Args &a, const unsigned char key[8], long mark)
{
    ResetMesg();
    if (SetCell(0, a.rest[0].c_str()) != 0)
        return Fail("setting the message type", mark);
    for (size_t k = 1; k < a.rest.size(); ++k) {
        int field;
        std::string value, why;
        if (!SplitAssignment(a.rest[k], &field, &value) || field == 0)
            return UsageError(kTool, "expected FIELD=VALUE with FIELD 1 to 64, got " + a.rest[k]);
        if (SetFieldText(field, value, &why) != 0) {
            if (!why.empty())
                return UsageError(kTool, why);
            return Fail("setting field " + std::to_string(field), mark);
        }
    }
    const RequestEcho request = RememberRequest(a.rest[0]);
    int sock = SockConnect(a.host.c_str(), a.port);
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
    const bool macOk = CheckMesgMac(key) == 0;
    const std::string mismatch = ReplyMismatch(request, a.replyType);
    const std::set<int> &masked = DefaultMaskedFields();
    if (a.json)
        std::printf("%s\n", ReplyJson(masked, a.unmask, macOk ? "verified" : "failed", mismatch).c_str());
    else
        std::printf("%sMAC: %s\n", ReplyTable(masked, a.unmask).c_str(), macOk ? "verified" : "FAILED");
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
    const int rc = send ? (a.text ? SockSendFile : SockSendBinFile)(a.host.c_str(), a.port, one, two)
                        : (a.text ? SockRecvFile : SockRecvBinFile)(a.host.c_str(), a.port, one, two);
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
    if (!a.settings.empty() && plat::SetEnvVar(kSettingsEnvVar, a.settings.c_str()) != 0)
        return UsageError(kTool, "cannot use --settings " + a.settings);
    if (Init8583() != 0)
        return InitFailed();
    const long mark = FileSize(g_mesg.settings.errfile);
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
