#include "host.h"

#include "../common/tool_support.h"
#include "core/mesg_state.h"
#include "core/numtext.h"
#include "net/file_transfer.h"
#include "net/net.h"
#include "packet/bitmap.h"
#include "packet/packet.h"
#include "platform/platform.h"
#include "tranpak.h"

#include <cstdio>
#include <cstring>

namespace tranpak::tools {
namespace {

constexpr int kIdlePollMillis = 200;
constexpr int kWorkTimeoutMillis = 10000;

void SetBody(int n) { WriteZeroFilled(g_fileMesg.len, 4, n); }

int BodyLength() { return FieldToInt(reinterpret_cast<const unsigned char *>(g_fileMesg.len), 4); }

int SendRefusal(int sock, const std::string &text)
{
    g_fileMesg.stx = kFileStx;
    g_fileMesg.mesg_type = '3';
    std::memcpy(g_fileMesg.buf, text.data(), text.size());
    SetBody(static_cast<int>(text.size()));
    return SendFileMesg(sock);
}

std::string UsedFields()
{
    std::string list;
    for (int i = 0; i < kCellCount; ++i)
        if (TestBit(g_mesg.packet.bitmap, i))
            list += (list.empty() ? "" : ",") + std::to_string(i + 1);
    return list;
}

}  // namespace

bool ParseFault(const std::string &name, Fault *fault)
{
    static const std::pair<const char *, Fault> kNames[] = {
        {"none", Fault::kNone},      {"late", Fault::kLate},     {"close", Fault::kClose},
        {"bad-mac", Fault::kBadMac}, {"bad-len", Fault::kBadLen}, {"no-stop", Fault::kNoStop},
        {"garbage", Fault::kGarbage},
    };
    for (const auto &n : kNames) {
        if (name == n.first) {
            *fault = n.second;
            return true;
        }
    }
    return false;
}

std::string ReplyType(const std::string &requestType, const std::string &fixed)
{
    if (!fixed.empty())
        return fixed;
    std::string reply = requestType;
    if (reply.size() == 4 && reply[2] >= '0' && reply[2] <= '8')
        ++reply[2];
    return reply;
}

bool ConfinedPath(const std::string &dir, const std::string &request, std::string *path)
{
    if (request.empty() || request.size() > 200 || request[0] == '/')
        return false;
    size_t start = 0;
    for (;;) {
        size_t slash = request.find('/', start);
        std::string part = request.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        for (char c : part)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\' || c == ':')
                return false;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    *path = dir + "/" + request;
    return true;
}

HostSimulator::HostSimulator(HostOptions options) : options_(std::move(options)) {}

int HostSimulator::Start(std::string *why)
{
    if (!LoadDefinitions(options_.definitions, options_.errlog)) {
        *why = "cannot load definitions from " + options_.definitions + " (see " + options_.errlog + ")";
        return -1;
    }
    plat::SockStartup();
    listener_ = plat::SockListen(options_.address.c_str(), options_.port);
    if (listener_ < 0) {
        *why = "cannot listen on " + options_.address + ":" + std::to_string(options_.port);
        return -1;
    }
    plat::SockSetRecvTimeout(listener_, kIdlePollMillis);
    return plat::SockLocalPort(listener_);
}

void HostSimulator::Serve(volatile std::sig_atomic_t *stop)
{
    int served = 0;
    while (!*stop && (options_.maxConnections == 0 || served < options_.maxConnections)) {
        int sock = plat::SockAccept(listener_);
        if (sock < 0)
            continue;  // the idle poll: look at the stop flag again
        ++served;
        HandleConnection(sock);
        plat::SockCloseHandle(sock);
    }
    plat::SockCloseHandle(listener_);
}

void HostSimulator::HandleConnection(int sock)
{
    for (;;) {
        unsigned char first = 0;
        plat::SockSetRecvTimeout(sock, kWorkTimeoutMillis);
        int n = plat::SockPeekSome(sock, &first, 1);
        if (n <= 0)
            return;
        if (first == 0x02) {
            if (!HandleMessage(sock))
                return;
        } else if (first == 0x06) {
            HandleFile(sock);
            return;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", first);
            Say(std::string("connection refused: first byte ") + hex + " starts no known frame");
            return;
        }
    }
}

bool HostSimulator::FaultNow()
{
    return options_.fault != Fault::kNone && options_.faultEvery > 0 && requests_ % options_.faultEvery == 0;
}

std::string HostSimulator::LastError()
{
    auto lines = LinesSince(options_.errlog, errlogSize_);
    errlogSize_ = FileSize(options_.errlog);
    if (lines.empty())
        return "";
    std::string line = lines.back();
    return line.size() > 22 && line[0] == '[' ? line.substr(22) : line;
}

void HostSimulator::Say(const std::string &line)
{
    std::printf("tranpak-host: %s\n", line.c_str());
    std::fflush(stdout);
}

bool HostSimulator::HandleMessage(int sock)
{
    errlogSize_ = FileSize(options_.errlog);
    if (SockRecvMesg(sock, 0) != 0) {
        Say("message refused: " + LastError());
        return false;
    }
    ++requests_;
    const std::string requestType = g_mesg.packet.txcode;
    const std::string fields = UsedFields();
    const bool macOk = CheckMesgMac(options_.key) == 0;
    const std::string why = macOk ? "" : LastError();

    const std::string replyType = ReplyType(requestType, options_.replyType);
    SetCell(0, replyType.c_str());
    std::string set;
    for (const auto &[field, value] : macOk ? options_.approve : options_.refuse) {
        std::string problem;
        if (SetFieldText(field, value, &problem) == 0)
            set += " " + std::to_string(field) + "=" + value;
        else
            Say("cannot set field " + std::to_string(field) + ": " + (problem.empty() ? LastError() : problem));
    }

    Fault fault = FaultNow() ? options_.fault : Fault::kNone;
    unsigned char key[8];
    std::memcpy(key, options_.key, 8);
    if (fault == Fault::kBadMac)
        key[0] ^= 0x02;
    static unsigned char frame[kFrameBufSize];
    int len = 0;
    if (BuildPacket(frame, key, &len) != 0) {
        Say("message " + requestType + ": answer cannot be packed: " + LastError());
        return false;
    }
    std::string line = "message " + requestType + " fields " + fields + ", MAC " +
                       (macOk ? "ok" : "refused (" + why + ")") + " -> " + replyType + set;
    switch (fault) {
    case Fault::kClose:
        Say(line + " [fault: closed without answering]");
        return false;
    case Fault::kLate:
        plat::SleepMillis(options_.delayMillis);
        line += " [fault: " + std::to_string(options_.delayMillis) + " ms late]";
        break;
    case Fault::kBadMac:
        line += " [fault: wrong MAC]";
        break;
    case Fault::kBadLen:
        WriteZeroFilled(reinterpret_cast<char *>(frame + 1), 4, g_mesg.packet.len + 1);
        line += " [fault: length one too large]";
        break;
    case Fault::kNoStop:
        frame[len - 1] = 0x00;
        line += " [fault: no stop byte]";
        break;
    case Fault::kGarbage:
        for (int i = 0; i < len; ++i)
            frame[i] = static_cast<unsigned char>((i * 97 + 13) & 0xFF);
        line += " [fault: garbage]";
        break;
    case Fault::kNone:
        break;
    }
    SendAll(sock, frame, len);
    Say(line);
    // A damaged frame leaves the connection unusable for both sides.
    return fault == Fault::kNone || fault == Fault::kLate || fault == Fault::kBadMac;
}

void HostSimulator::HandleFile(int sock)
{
    errlogSize_ = FileSize(options_.errlog);
    if (RecvFileMesg(sock) != 0) {
        Say("file request refused: " + LastError());
        return;
    }
    std::string request(g_fileMesg.buf, static_cast<size_t>(BodyLength()));
    if (g_fileMesg.mesg_type == '0')
        ReceiveFile(sock, request);
    else if (g_fileMesg.mesg_type == '1')
        SendFile(sock, request);
    else
        Say(std::string("file request refused: first frame of type ") + g_fileMesg.mesg_type);
}

void HostSimulator::ReceiveFile(int sock, const std::string &request)
{
    std::string path;
    bool allowed = ConfinedPath(options_.dir, request, &path);
    std::FILE *f = allowed ? std::fopen(path.c_str(), "wb") : nullptr;
    long total = 0;
    bool written = true;
    // The client sends everything before it waits: take it all, then answer.
    for (;;) {
        if (RecvFileMesg(sock) != 0) {
            Say("file '" + request + "' not stored: " + LastError());
            if (f != nullptr)
                std::fclose(f);
            return;
        }
        if (g_fileMesg.mesg_type == '4')
            break;
        if (g_fileMesg.mesg_type != '2' || f == nullptr)
            continue;
        int n = BodyLength();
        written = written && std::fwrite(g_fileMesg.buf, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
        total += n;
    }
    if (f != nullptr)
        written = std::fclose(f) == 0 && written;
    if (!allowed || f == nullptr || !written) {
        SendRefusal(sock, allowed ? "cannot store" : "path not allowed");
        Say("file '" + request + "' refused: " + (allowed ? "cannot store it" : "path outside the served directory"));
        return;
    }
    SendStopMesg(sock);
    Say("file '" + request + "' stored, " + std::to_string(total) + " bytes");
}

void HostSimulator::SendFile(int sock, const std::string &request)
{
    std::string path;
    if (!ConfinedPath(options_.dir, request, &path)) {
        SendRefusal(sock, "path not allowed");
        Say("file '" + request + "' refused: path outside the served directory");
        return;
    }
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        SendRefusal(sock, "no such file");
        Say("file '" + request + "' refused: no such file");
        return;
    }
    long total = 0;
    for (;;) {
        int n = static_cast<int>(std::fread(g_fileMesg.buf, 1, kFileBodySize, f));
        if (n == 0)
            break;
        SetBody(n);
        if (SendDataMesg(sock) != 0)
            break;
        total += n;
    }
    std::fclose(f);
    SendStopMesg(sock);
    Say("file '" + request + "' sent, " + std::to_string(total) + " bytes");
}

}  // namespace tranpak::tools
