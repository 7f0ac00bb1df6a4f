#include "host.h"

#include "../common/message_view.h"
#include "../common/os.h"
#include "../common/tool_support.h"
#include "client_link.h"
#include "wire.h"

#include <cstdio>
#include <cstring>

namespace tranpak::tools {
namespace {

constexpr int kIdlePollMillis = 200;

std::string UsedFields(TpSession *s)
{
    unsigned char bitmap[8];
    Bitmap(s, bitmap);
    std::string list;
    for (int field = 1; field <= kFieldCount; ++field)
        if (BitSet(bitmap, field))
            list += (list.empty() ? "" : ",") + std::to_string(field);
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

HostSimulator::HostSimulator(HostOptions options) : options_(std::move(options)), session_{} {}

int HostSimulator::Start(std::string *why)
{
    if (!LoadDefinitions(&session_, options_.definitions, options_.errlog)) {
        *why = "cannot load definitions from " + options_.definitions + " (see " + options_.errlog + ")";
        return -1;
    }
    for (const auto *list : {&options_.approve, &options_.refuse})
        for (const auto &[field, value] : *list)
            if (!CheckFieldValue(&session_, field, value, why)) {
                *why = (list == &options_.approve ? "--set " : "--refuse ") + *why;
                return -1;
            }
    for (const Rule &rule : options_.rules)
        if (!CheckRule(&session_, rule, why)) {
            *why = "--rule " + *why;
            return -1;
        }
    if (!served_.Open(options_.dir)) {
        *why = "--dir " + options_.dir + " is not a directory";
        return -1;
    }
    os::SockStartup();
    listener_ = os::SockListen(options_.address.c_str(), options_.port);
    if (listener_ < 0) {
        *why = "cannot listen on " + options_.address + ":" + std::to_string(options_.port);
        return -1;
    }
    return os::SockLocalPort(listener_);
}

void HostSimulator::Serve(volatile std::sig_atomic_t *stop)
{
    int served = 0;
    while (!*stop && outputWorks_ && (options_.maxConnections == 0 || served < options_.maxConnections)) {
        // Waiting with a time limit, not in accept, so Ctrl-C is seen at
        // once on every platform.
        if (os::WaitSocket(listener_, false, kIdlePollMillis) != 1)
            continue;
        int sock = os::SockAccept(listener_);
        if (sock < 0)
            continue;
        ++served;
        HandleConnection(sock, stop);
        os::SockClose(sock);
    }
    os::SockClose(listener_);
}

void HostSimulator::HandleConnection(int sock, volatile std::sig_atomic_t *stop)
{
    ClientLink link(sock, options_.clientTimeoutMillis, stop);
    for (;;) {
        unsigned char first = 0;
        std::string why;
        const LinkResult r = link.ReadFrame(&first, &why);
        if (r == LinkResult::kTimedOut) {
            Say("connection dropped: no whole frame within " + std::to_string(options_.clientTimeoutMillis / 1000) +
                " s");
            return;
        }
        if (r == LinkResult::kMalformed) {
            Say((first == kPacketStart ? "message refused: " : "file request refused: ") + why);
            return;
        }
        if (r != LinkResult::kOk)
            return;  // closed, stopped or broken: nothing more to answer
        if (first == kPacketStart) {
            if (!HandleMessage(link))
                return;
        } else if (first == kFileStart) {
            HandleFile(link);
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
    if (std::printf("tranpak-host: %s\n", line.c_str()) < 0 || std::fflush(stdout) != 0)
        outputWorks_ = false;
}

std::string HostSimulator::SetFields(const FieldValues &values)
{
    std::string set;
    for (const auto &[field, value] : values) {
        std::string problem;
        if (SetFieldText(&session_, field, value, &problem) == 0)
            set += " " + std::to_string(field) + "=" + value;
        else
            Say("cannot set field " + std::to_string(field) + ": " + (problem.empty() ? LastError() : problem));
    }
    return set;
}

bool HostSimulator::HandleMessage(ClientLink &link)
{
    errlogSize_ = FileSize(options_.errlog);
    if (TpUnpackMesg(&session_, link.Packet(), link.PacketLength()) != 0) {
        Say("message refused: " + LastError());
        return false;
    }
    ++requests_;
    const std::string requestType = MessageType(&session_);
    const std::string fields = UsedFields(&session_);
    const bool macOk = TpCheckMesgMac(&session_, options_.key) == 0;
    const std::string why = macOk ? "" : LastError();
    const Rule *rule = nullptr;
    for (size_t i = 0; macOk && rule == nullptr && i < options_.rules.size(); ++i)
        if (RuleMatches(&session_, options_.rules[i]))
            rule = &options_.rules[i];

    const std::string replyType = ReplyType(requestType, options_.replyType);
    TpSetCell(&session_, 0, replyType.c_str());
    std::string set = SetFields(macOk ? options_.approve : options_.refuse);
    if (rule != nullptr)
        set += SetFields(rule->sets) + " (rule \"" + rule->text + "\")";

    Fault fault = FaultNow() ? options_.fault : Fault::kNone;
    unsigned char key[8];
    std::memcpy(key, options_.key, 8);
    if (fault == Fault::kBadMac)
        key[0] ^= 0x02;
    unsigned char frame[kPacketBufSize];
    int len = 0;
    if (TpPackMesg(&session_, key, frame, sizeof frame, &len) != 0) {
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
        if (!link.Pause(options_.delayMillis))
            return false;
        line += " [fault: " + std::to_string(options_.delayMillis) + " ms late]";
        break;
    case Fault::kBadMac:
        line += " [fault: wrong MAC]";
        break;
    case Fault::kBadLen: {
        // The length digits count the bytes between them and the stop byte.
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04d", len - kPacketOverhead + 1);
        std::memcpy(frame + 1, digits, kLenDigits);
        line += " [fault: length one too large]";
        break;
    }
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
    const LinkResult sent = link.Write(frame, len);
    if (sent != LinkResult::kOk) {
        Say(line + " [answer not sent: " + LinkResultText(sent) + "]");
        return false;
    }
    Say(line);
    // A damaged frame leaves the connection unusable for both sides.
    return fault == Fault::kNone || fault == Fault::kLate || fault == Fault::kBadMac;
}

}  // namespace tranpak::tools
