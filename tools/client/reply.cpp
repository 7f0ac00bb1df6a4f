#include "reply.h"

#include "../common/message_view.h"
#include "../common/shown_text.h"
#include "../common/tool_support.h"

#include <cstdio>

namespace tranpak::tools {
namespace {

// Values compare as their fields carry them: digits without the zeros
// that fill them on the left, text without the blanks on the right.
std::string Normalized(TpSession *s, int field, std::string value)
{
    const int type = CellDef(s, field).type;
    if (type == CELL_N || type == CELL_NI || type == CELL_NF) {
        const size_t first = value.find_first_not_of('0');
        return first == std::string::npos ? "0" : value.substr(first);
    }
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    return value;
}

}  // namespace

RequestEcho RememberRequest(TpSession *s, const std::string &type)
{
    RequestEcho echo{type, {}};
    for (size_t k = 0; k < std::size(kEchoedFields); ++k)
        if (CellDef(s, kEchoedFields[k]).used != 0)
            echo.values[k] = FieldText(s, kEchoedFields[k]);
    return echo;
}

std::string ReplyMismatch(TpSession *s, const RequestEcho &request, const std::string &fixedType)
{
    const std::string want = ReplyType(request.type, fixedType);
    const std::string got = MessageType(s);
    if (want != got)
        return "reply type " + Escaped(got) + " does not answer " + Escaped(request.type) + " (expected " +
               Escaped(want) + ")";
    for (size_t k = 0; k < std::size(kEchoedFields); ++k) {
        const int field = kEchoedFields[k];
        if (request.values[k].empty())
            continue;
        if (!Received(s, field))
            return "field " + std::to_string(field) + " was sent as " + Escaped(request.values[k]) +
                   " but is missing from the reply";
        const std::string value = FieldText(s, field);
        if (Normalized(s, field, value) != Normalized(s, field, request.values[k]))
            return "field " + std::to_string(field) + " came back as " + Escaped(value) + ", sent as " +
                   Escaped(request.values[k]);
    }
    return "";
}

std::string ShownValue(TpSession *s, int field, const std::set<int> &masked, bool unmask)
{
    const std::string value = FieldText(s, field);
    // Track 2 data (Z) is card data whichever field carries it.
    const bool card = masked.count(field) != 0 || FieldType(s, field) == CELL_Z;
    // Bytes as the library shows them: a TLV field's card data masked.
    if (!unmask && !card && FieldType(s, field) == CELL_B)
        if (const std::string shown = DescribedValue(s, field); !shown.empty())
            return shown;
    return unmask || !card ? Escaped(value) : Mask(value);
}

std::string ReplyTable(TpSession *s, const std::set<int> &masked, bool unmask)
{
    std::string out = "reply " + Escaped(MessageType(s)) + "\n";
    char row[200];
    std::snprintf(row, sizeof row, "  %5s  %-12s %-4s %s\n", "field", "name", "type", "value");
    out += row;
    for (int f : ReceivedFields(s)) {
        const TpCellDef def = CellDef(s, f);
        std::snprintf(row, sizeof row, "  %5d  %-12s %-4s ", f, Escaped(def.name).c_str(), TypeName(def.type));
        out += row + ShownValue(s, f, masked, unmask) + "\n";
    }
    return out;
}

std::string ReplyJson(TpSession *s, bool unmask, const char *mac, const std::string &mismatch)
{
    // The message as TpDescribe gives it, the one JSON shape of a message
    // (values masked and escaped as the table shows them), then what the
    // client found of the reply, as further keys of the same object.
    const int flags = TP_DESCRIBE_JSON | (unmask ? TP_DESCRIBE_UNMASKED : 0);
    int length = 0;
    std::string out;
    if (TpDescribe(s, flags, nullptr, 0, &length) == 0 && length > 0) {
        out.resize(static_cast<size_t>(length) + 1);
        if (TpDescribe(s, flags, out.data(), length + 1, nullptr) != 0)
            out.clear();
        out.resize(std::string(out.c_str()).size());
    }
    if (out.size() < 2 || out.back() != '}')
        out = "{\"type\": " + JsonString(Escaped(MessageType(s))) + ", \"fields\": {}}";
    out.pop_back();
    out += ", \"mac\": " + JsonString(mac) + ", \"answers_request\": " + (mismatch.empty() ? "true" : "false");
    if (!mismatch.empty())
        out += ", \"mismatch\": " + JsonString(mismatch);
    return out + "}";
}

}  // namespace tranpak::tools
