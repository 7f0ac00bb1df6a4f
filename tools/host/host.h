// The host simulator: answers Packets and file transfers on one listening
// socket, up to maxClients connections at the same time, each on a thread
// of its own with a session of its own, with optional injected faults and
// scripted answers. Every frame a client sends or is sent has its own
// deadline, and a file transfer one over all its frames, so a client holds
// only its own connection, and that for no longer than those.
#ifndef TRANPAK_TOOLS_HOST_H
#define TRANPAK_TOOLS_HOST_H

#include "confine.h"
#include "../common/mac_choice.h"
#include "../common/wire_choice.h"
#include "log_writer.h"
#include "rules.h"
#include "tranpak.h"

#include "os_programs.h"

#include <atomic>
#include <csignal>
#include "../common/pin_choice.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tranpak::tools {

enum class Fault { kNone, kLate, kClose, kBadMac, kBadLen, kNoStop, kGarbage, kDuplicate };

struct HostOptions {
    std::string address = "127.0.0.1";
    int port = 0;  // 0: any free port
    std::string definitions = "../etc/bitmap.txt";
    std::string errlog;            // the library's error log; empty: none (reasons go to the host's log)
    std::string dir = ".";         // the directory served to file transfers
    MacChoice mac;                 // --key, --mac, --mac-padding
    std::string settings;          // --settings: the file whose [Wire Format] the host speaks; empty: none
    std::string replyType;         // empty: the request's type with its third digit raised
    FieldValues approve;           // fields set on an answer
    FieldValues refuse;            // fields set when the MAC fails
    bool refuseByDefault = false;  // refuse is the default, not the command line's
    std::vector<Rule> rules;       // the first that matches adds its fields
    PinChoice pin;                 // --pin-key, --pin-format, --dukpt, --ksn-field: how rules read field 52
    Fault fault = Fault::kNone;
    int faultEvery = 1;                  // the fault hits one request in N, over all connections
    int delayMillis = 3000;              // how late a late answer is
    int maxConnections = 0;              // accepted connections before stopping; 0: serve until stopped
    int maxClients = 64;                 // connections served at the same time
    int clientTimeoutMillis = 10000;     // for each frame read or written, and for all until a MAC verified
    int idleTimeoutMillis = 30000;       // between messages, once one's MAC verified
    int transferTimeoutMillis = 300000;  // for a whole fetch or store
    LogWriter::Sink log;                 // where log lines go; empty: standard output
};

// Refused MACs in a row after which the host ends a message connection.
inline constexpr int kRefusedMacsInARow = 3;
// How long the host reads on, and throws away, what a client still sends
// after its store was refused, so that the refusal is not lost in a reset.
inline constexpr int kRefusalLingerMillis = 1000;

bool ParseFault(const std::string &name, Fault *fault);

class ClientLink;
enum class LinkResult;

class HostSimulator {
public:
    explicit HostSimulator(HostOptions options);
    ~HostSimulator();
    // Loads the definitions, checks every value of --set, --refuse and the
    // rules against them, finds the served directory and opens the
    // listening socket; the port, or -1 with *why.
    int Start(std::string *why);
    // Serves until stop becomes non-zero, maxConnections are accepted and
    // have ended, or standard output cannot be written (then stop is set,
    // so every connection ends). Returns once every connection is closed.
    void Serve(volatile std::sig_atomic_t *stop);
    // The dialect spoken, as WireSummary words it.
    std::string WireText() const { return WireSummary(wire_); }
    // False once a log line could not be written.
    bool OutputWorks() const { return log_->Works(); }
    // Logs "stopped" and waits at most millis for the log to be written.
    // False when standard output is still not read: then the process must
    // end without destroying the simulator.
    bool Finish(int millis);

private:
    // Where one connection is served: its thread, and its session (73,728
    // bytes, so on the heap), loaded once and kept for the next connection.
    struct Slot {
        std::unique_ptr<TpSession> session = std::make_unique<TpSession>();
        bool loaded = false;
        bool busy = false;  // Serve's view: a thread was started and not joined
        std::atomic<bool> ended{false};
        // What the slot's thread serves, set before it starts.
        struct Run {
            HostSimulator *host = nullptr;
            int sock = -1;
            long number = 0;
            volatile std::sig_atomic_t *stop = nullptr;
        } run;
        os::Thread thread;
    };
    static void RunSlot(void *slot);
    Slot *FreeSlot();
    int JoinEnded();
    // Starts a slot's session: definitions, MAC, dialect.
    bool LoadSession(TpSession *s) const;
    void RunConnection(Slot *slot, int sock, long number, volatile std::sig_atomic_t *stop);
    void HandleConnection(ClientLink &link, Slot *slot);
    // False when the connection is to end; *verified tells whether the
    // request's MAC verified.
    bool HandleMessage(ClientLink &link, TpSession *s, bool *verified);
    void HandleFile(ClientLink &link);
    void ReceiveFile(ClientLink &link, const std::string &request);
    void SendFile(ClientLink &link, const std::string &request);
    bool Refuse(ClientLink &link, const std::string &request, const std::string &why);
    std::string SetFields(const ClientLink &link, TpSession *s, const FieldValues &values);
    bool FaultNow(long request) const;
    std::string Failure(LinkResult r) const;
    void Say(const ClientLink &link, const std::string &line);
    void Say(long connection, const std::string &line);

    HostOptions options_;
    WireChoice wire_;  // the dialect of --settings, read by Start
    // One a connection served at the same time, each kept with its loaded
    // session for the next connection; the first also checks the options.
    std::vector<std::unique_ptr<Slot>> slots_;
    os::ServedDir served_;  // --dir, opened once at start
    int listener_ = -1;
    std::atomic<long> requests_{0};
    // Every log line goes through it; never destroyed once Finish could
    // not end it (logLeft_), since its thread still runs.
    LogWriter *log_;
    bool logLeft_ = false;
};

}  // namespace tranpak::tools

#endif
