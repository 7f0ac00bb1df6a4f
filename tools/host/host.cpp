#include "host.h"

#include "../common/message_view.h"
#include "os_programs.h"
#include "../common/shown_text.h"
#include "../common/tool_support.h"
#include "client_link.h"
#include "wire.h"
#include "wire_format.h"

#include <cstdio>
#include <cstring>

namespace tranpak::tools {
namespace {

// Connections that may wait to be accepted. The system cuts it to its own
// maximum; it is above the largest --max-clients either way.
constexpr int kListenBacklog = 4096;
// Room for the library's reason of a failure.
constexpr int kErrorTextSize = 300;

std::string UsedFields(TpSession *s)
{
    std::string list;
    for (int field : ReceivedFields(s))
        list += (list.empty() ? "" : ",") + std::to_string(field);
    return list;
}

// The reason the library gave for the session's last failure, as it wrote
// it to the error log: control bytes already as \xHH, and bytes from 0x80
// escaped when the log line is written.
std::string LastError(TpSession *s)
{
    char text[kErrorTextSize] = {};
    TpGetLastErrMesg(s, text, sizeof text);
    return text;
}

}  // namespace

bool ParseFault(const std::string &name, Fault *fault)
{
    static const std::pair<const char *, Fault> kNames[] = {
        {"none", Fault::kNone},       {"late", Fault::kLate},           {"close", Fault::kClose},
        {"bad-mac", Fault::kBadMac},  {"bad-len", Fault::kBadLen},      {"no-stop", Fault::kNoStop},
        {"garbage", Fault::kGarbage}, {"duplicate", Fault::kDuplicate},
    };
    for (const auto &n : kNames) {
        if (name == n.first) {
            *fault = n.second;
            return true;
        }
    }
    return false;
}

bool HostSimulator::LoadSession(TpSession *s) const
{
    return LoadDefinitions(s, options_.definitions, options_.errlog) && UseMac(s, options_.mac) && UseWire(s, wire_);
}

int HostSimulator::Start(std::string *why)
{
    // The dialect first: a host that cannot speak it answers nobody.
    if (!options_.settings.empty()) {
        if (!ReadWireChoice(options_.settings, &wire_, why))
            return -1;
        if (!CanFrame(wire_)) {
            *why =
                "the settings' [Wire Format] LENGTH=NONE has no length to read a message from a connection by; "
                "a host needs one (" +
                options_.settings + ")";
            return -1;
        }
        if (options_.fault == Fault::kNoStop && wire_.format.envelope == wire::EnvelopeCode::kNone) {
            *why = "--fault no-stop needs a stop byte, and the settings' [Wire Format] ENVELOPE=NONE has none";
            return -1;
        }
    }
    slots_.push_back(std::make_unique<Slot>());
    TpSession *session = slots_.front()->session.get();
    slots_.front()->loaded = LoadSession(session);
    if (!slots_.front()->loaded) {
        const std::string detail = LastDetail(session);
        *why = "cannot load definitions from " + options_.definitions + ": " +
               (detail.empty() ? LastError(session) : detail) +
               (options_.errlog.empty() ? "" : " (see " + options_.errlog + ")");
        return -1;
    }
    // Definitions without field 39 have no place for the default refusal:
    // such a host answers a failed MAC with the request's fields alone.
    std::string no39;
    if (options_.refuseByDefault && !CheckFieldValue(session, 39, "A0", &no39))
        options_.refuse.clear();
    for (const auto *list : {&options_.approve, &options_.refuse})
        for (const auto &[field, value] : *list)
            if (!CheckFieldValue(session, field, value, why)) {
                *why = (list == &options_.approve ? "--set " : "--refuse ") + *why;
                return -1;
            }
    for (const Rule &rule : options_.rules)
        if (!CheckRule(session, rule, why)) {
            *why = "--" + *why;  // the reason starts "rule \"...\": "
            return -1;
        }
    if (!served_.Open(options_.dir.c_str())) {
        *why = "--dir " + options_.dir + " is not a directory";
        return -1;
    }
    os::SockStartup(2, 2);
    char reason[os::kSystemTextSize] = "";
    listener_ = os::SockListen(options_.address.c_str(), options_.port, kListenBacklog, reason, sizeof reason);
    if (listener_ < 0) {
        *why = "cannot listen on " + options_.address + ":" + std::to_string(options_.port) + ": " + reason;
        return -1;
    }
    log_->Start();
    return os::SockLocalPort(listener_);
}

// A message connection waits --idle-timeout for its next message once a
// MAC verified on it: a terminal that holds the key may keep it open
// between transactions, each frame then having --client-timeout from its
// first byte. Until then, --client-timeout from the connection's start
// covers everything it sends, however it spaces and trickles its frames,
// and a client without the key is answered a few times at most: it
// cannot keep a slot by sending refused messages just in time.
// A connection's thread: the slot says what it serves.
void HostSimulator::RunSlot(void *slot)
{
    auto *s = static_cast<Slot *>(slot);
    s->run.host->RunConnection(s, s->run.sock, s->run.number, s->run.stop);
}

void HostSimulator::HandleConnection(ClientLink &link, Slot *slot)
{
    bool keyShown = false;
    int refusedInARow = 0;
    link.LimitFrames(options_.clientTimeoutMillis);
    for (;;) {
        unsigned char first = 0;
        std::string why;
        const int wait = keyShown ? options_.idleTimeoutMillis : options_.clientTimeoutMillis;
        bool started = false;
        const LinkResult r = link.ReadFrame(&first, &why, wait, &started);
        if (r == LinkResult::kTimedOut && !started && keyShown) {
            Say(link, "connection ended: no message for " + std::to_string(wait / 1000) + " s");
            return;
        }
        if (r == LinkResult::kTimedOut) {
            const std::string limit = std::to_string(options_.clientTimeoutMillis / 1000) + " s";
            Say(link, keyShown || refusedInARow == 0
                          ? "connection dropped: no whole frame within " + limit
                          : "connection dropped: no verified MAC within " + limit + " of connecting");
            return;
        }
        if (r == LinkResult::kMalformed) {
            Say(link, (link.Kind() == FrameKind::kPacket ? "message refused: " : "file request refused: ") + why);
            return;
        }
        if (r != LinkResult::kOk)
            return;  // closed, stopped or broken: nothing more to answer
        if (link.Kind() == FrameKind::kPacket) {
            // File transfers need no definitions: they are loaded for the
            // first message a slot serves.
            if (!slot->loaded)
                slot->loaded = LoadSession(slot->session.get());
            if (!slot->loaded) {
                Say(link, "message refused: cannot load definitions from " + options_.definitions);
                return;
            }
            bool macOk = false;
            if (!HandleMessage(link, slot->session.get(), &macOk))
                return;
            if (macOk && !keyShown)
                link.LiftFrameLimit();
            keyShown = keyShown || macOk;
            refusedInARow = macOk ? 0 : refusedInARow + 1;
            if (refusedInARow == kRefusedMacsInARow) {
                Say(link, "connection ended: " + std::to_string(kRefusedMacsInARow) + " refused MACs in a row");
                return;
            }
        } else if (link.Kind() == FrameKind::kFile) {
            HandleFile(link);
            return;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", first);
            Say(link, std::string("connection refused: first byte ") + hex + " starts no known frame");
            return;
        }
    }
}

bool HostSimulator::FaultNow(long request) const
{
    return options_.fault != Fault::kNone && options_.faultEvery > 0 && request % options_.faultEvery == 0;
}

std::string HostSimulator::SetFields(const ClientLink &link, TpSession *s, const FieldValues &values)
{
    std::string set;
    for (const auto &[field, value] : values) {
        std::string problem;
        if (SetFieldText(s, field, value, &problem) == 0)
            set += " " + std::to_string(field) + "=" + Escaped(value);
        else
            Say(link, "cannot set field " + std::to_string(field) + ": " + (problem.empty() ? LastError(s) : problem));
    }
    return set;
}

bool HostSimulator::HandleMessage(ClientLink &link, TpSession *s, bool *verified)
{
    *verified = false;
    if (TpUnpackMesg(s, link.Packet(), link.PacketLength()) != 0) {
        Say(link, "message refused: " + LastError(s));
        return false;
    }
    const long request = ++requests_;
    const std::string requestType = MessageType(s);
    const std::string fields = UsedFields(s);
    const bool macOk = TpCheckMesgMac(s, options_.mac.key) == 0;
    *verified = macOk;
    const std::string why = macOk ? "" : LastError(s);
    const Rule *rule = nullptr;
    for (size_t i = 0; macOk && rule == nullptr && i < options_.rules.size(); ++i)
        if (RuleMatches(s, options_.rules[i], options_.pin))
            rule = &options_.rules[i];

    const std::string replyType = ReplyType(requestType, options_.replyType);
    TpSetCell(s, 0, replyType.c_str());
    std::string set = SetFields(link, s, macOk ? options_.approve : options_.refuse);
    if (rule != nullptr)
        set += SetFields(link, s, rule->sets) + " (rule \"" + Escaped(rule->text) + "\")";

    Fault fault = FaultNow(request) ? options_.fault : Fault::kNone;
    unsigned char key[sizeof options_.mac.key];
    std::memcpy(key, options_.mac.key, sizeof key);
    if (fault == Fault::kBadMac)
        key[0] ^= 0x02;
    unsigned char frame[wire::kMaxFrameSize];
    int len = 0;
    if (TpPackMesg(s, key, frame, sizeof frame, &len) != 0) {
        Say(link, "message " + Escaped(requestType) + ": answer cannot be packed: " + LastError(s));
        return false;
    }
    std::string line = "message " + Escaped(requestType) + " fields " + fields + ", MAC " +
                       (macOk ? "ok" : "refused (" + why + ")") + " -> " + Escaped(replyType) + set;
    switch (fault) {
    case Fault::kClose:
        Say(link, line + " [fault: closed without answering]");
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
        if (wire_.seed) {
            // The length digits count the bytes between them and the stop byte.
            wire::PutDigits(frame + 1, len - wire::kPacketOverhead + 1);
        } else {
            // The dialect's length, written again for a body one byte longer.
            const wire::WireFormat &f = wire_.format;
            const int body = len - wire::FrameHeadSize(f) - wire::FrameTailSize(f);
            const int headerAt = wire::FrameHeadSize(f) - f.headerLen;
            unsigned char header[wire::kMaxHeaderSize];
            std::memcpy(header, frame + headerAt, f.headerLen);
            wire::PutFrameHead(f, frame, body + 1, header);
        }
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
    case Fault::kDuplicate:
        line += " [fault: answer sent twice]";
        break;
    case Fault::kNone:
        break;
    }
    LinkResult sent = link.Write(frame, len);
    if (sent == LinkResult::kOk && fault == Fault::kDuplicate)
        sent = link.Write(frame, len);
    if (sent != LinkResult::kOk) {
        Say(link, line + " [answer not sent: " + LinkResultText(sent) + "]");
        return false;
    }
    Say(link, line);
    // A damaged frame leaves the connection unusable for both sides.
    return fault == Fault::kNone || fault == Fault::kLate || fault == Fault::kBadMac || fault == Fault::kDuplicate;
}

}  // namespace tranpak::tools
