// The client's view of a reply: whether it answers the request, and the
// reply shown as a table or as JSON, card data masked and control bytes
// escaped.
#ifndef TRANPAK_TOOLS_REPLY_H
#define TRANPAK_TOOLS_REPLY_H

#include "tranpak.h"

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

// Takes the echoed fields' values from the session's message (the request).
RequestEcho RememberRequest(TpSession *s, const std::string &type);

// "" when the reply in the session answers the request: its type is the
// request's with the third digit raised (or fixedType), and the echoed
// fields came back with the same value. Else what differs.
std::string ReplyMismatch(TpSession *s, const RequestEcho &request, const std::string &fixedType);

// The value of a received field as shown: escaped, masked unless unmask.
std::string ShownValue(TpSession *s, int field, const std::set<int> &masked, bool unmask);

// The reply in the session as a table, or as one JSON object: the
// message as TpDescribe gives it ({"type": ..., "fields": {"2": {"name":
// ..., "type": ..., "value": ...}}}, card data masked unless unmask), then
// "mac" and "answers_request" (and "mismatch" when it does not).
std::string ReplyTable(TpSession *s, const std::set<int> &masked, bool unmask);
std::string ReplyJson(TpSession *s, bool unmask, const char *mac, const std::string &mismatch);

}  // namespace tranpak::tools

#endif
