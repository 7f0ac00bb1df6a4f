// The host simulator: answers Packets and file transfers on one listening
// socket, one connection after another, with optional injected faults.
#ifndef TRANPAK_TOOLS_HOST_H
#define TRANPAK_TOOLS_HOST_H

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
    std::vector<std::pair<int, std::string>> approve;  // fields set on an answer
    std::vector<std::pair<int, std::string>> refuse;   // fields set when the MAC fails
    Fault fault = Fault::kNone;
    int faultEvery = 1;                 // the fault hits one request in N
    int delayMillis = 3000;             // how late a late answer is
    int maxConnections = 0;             // 0: serve until stopped
};

bool ParseFault(const std::string &name, Fault *fault);

// The reply's message type: fixed when given, else the request's with its
// third digit raised by one (0200 gives 0210, 0800 gives 0810).
std::string ReplyType(const std::string &requestType, const std::string &fixed);

// The file a request text names inside dir, or false when the text could
// reach outside it (absolute paths, drive letters, backslashes, empty, "."
// or ".." components).
bool ConfinedPath(const std::string &dir, const std::string &request, std::string *path);

class HostSimulator {
public:
    explicit HostSimulator(HostOptions options);
    // Loads the definitions and opens the listening socket; the port.
    int Start(std::string *why);
    // Serves until stop becomes non-zero or maxConnections are served.
    void Serve(volatile std::sig_atomic_t *stop);
    // Serves one accepted connection.
    void HandleConnection(int sock);

private:
    bool HandleMessage(int sock);
    void HandleFile(int sock);
    void ReceiveFile(int sock, const std::string &request);
    void SendFile(int sock, const std::string &request);
    bool FaultNow();
    std::string LastError();
    void Say(const std::string &line);

    HostOptions options_;
    int listener_ = -1;
    long requests_ = 0;
    long errlogSize_ = 0;
};

}  // namespace tranpak::tools

#endif
