// The host simulator: answers Packets and file transfers on one listening
// socket, one connection after another, with optional injected faults and
// scripted answers. Every frame a client sends or is sent has its own
// deadline, so no client holds the host for longer than that.
#ifndef TRANPAK_TOOLS_HOST_H
#define TRANPAK_TOOLS_HOST_H

#include "confine.h"
#include "rules.h"
#include "tranpak.h"

#include <csignal>
#include <string>
#include <utility>
#include <vector>

namespace tranpak::tools {

enum class Fault { kNone, kLate, kClose, kBadMac, kBadLen, kNoStop, kGarbage };

struct HostOptions {
    std::string address = "127.0.0.1";
    int port = 0;                       // 0: any free port
    std::string definitions = "../etc/bitmap.txt";
    std::string errlog = "host-errlog.txt";
    std::string dir = ".";              // the directory served to file transfers
    unsigned char key[8] = {};
    std::string replyType;              // empty: the request's type with its third digit raised
    FieldValues approve;                // fields set on an answer
    FieldValues refuse;                 // fields set when the MAC fails
    std::vector<Rule> rules;            // the first that matches adds its fields
    Fault fault = Fault::kNone;
    int faultEvery = 1;                 // the fault hits one request in N
    int delayMillis = 3000;             // how late a late answer is
    int maxConnections = 0;             // 0: serve until stopped
    int clientTimeoutMillis = 10000;    // for each frame read or written
};

bool ParseFault(const std::string &name, Fault *fault);

class ClientLink;

class HostSimulator {
public:
    explicit HostSimulator(HostOptions options);
    // Loads the definitions, checks every value of --set, --refuse and the
    // rules against them, finds the served directory and opens the
    // listening socket; the port, or -1 with *why.
    int Start(std::string *why);
    // Serves until stop becomes non-zero, maxConnections are served, or
    // standard output cannot be written.
    void Serve(volatile std::sig_atomic_t *stop);
    // False once a log line could not be written.
    bool OutputWorks() const { return outputWorks_; }

private:
    void HandleConnection(int sock, volatile std::sig_atomic_t *stop);
    bool HandleMessage(ClientLink &link);
    void HandleFile(ClientLink &link);
    void ReceiveFile(ClientLink &link, const std::string &request);
    void SendFile(ClientLink &link, const std::string &request);
    bool Refuse(ClientLink &link, const std::string &request, const std::string &why);
    std::string SetFields(const FieldValues &values);
    bool FaultNow();
    std::string LastError();
    void Say(const std::string &line);

    HostOptions options_;
    // The one message of the host: the definitions, each request as it
    // is unpacked and its answer as it is built.
    TpSession session_;
    os::ServedDir served_;  // --dir, opened once at start
    int listener_ = -1;
    long requests_ = 0;
    long errlogSize_ = 0;
    bool outputWorks_ = true;
};

}  // namespace tranpak::tools

#endif
