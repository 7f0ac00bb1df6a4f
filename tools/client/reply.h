// The client's view of a reply: whether it answers the request, and the
// reply shown as a table or as JSON, card data masked and control bytes
// escaped.
#ifndef TRANPAK_TOOLS_REPLY_H
#define TRANPAK_TOOLS_REPLY_H

#include <set>
#include <string>

namespace tranpak::tools {

// The fields a reply must give back unchanged when the request had them:
// the trace number (11) and the terminal (41).
inline constexpr int kEchoedFields[] = {11, 41};

// What the client remembers of its request.
struct RequestEcho {
    std::string type;
    std::string values[2];  // of kEchoedFields; empty when not sent
};

// Takes the echoed fields' values from the message state (the request).
RequestEcho RememberRequest(const std::string &type);

// "" when the reply in the message state answers the request: its type
// is the request's with the third digit raised (or fixedType), and the
// echoed fields came back with the same value. Else what differs.
std::string ReplyMismatch(const RequestEcho &request, const std::string &fixedType);

// The value of a received field as shown: escaped, masked unless unmask.
std::string ShownValue(int field, const std::set<int> &masked, bool unmask);

// The reply in the message state as a table, or as one JSON object.
std::string ReplyTable(const std::set<int> &masked, bool unmask);
std::string ReplyJson(const std::set<int> &masked, bool unmask, const char *mac, const std::string &mismatch);

}  // namespace tranpak::tools

#endif
