#include "reply.h"

#include "../common/shown_text.h"
#include "../common/tool_support.h"
#include "core/mesg_state.h"
#include "packet/bitmap.h"

#include <cstdio>

namespace tranpak::tools {
namespace {

bool Received(int field) { return TestBit(g_mesg.packet.bitmap, field - 1) && g_mesg.cells[field - 1].used != 0; }

// Values compare as their fields carry them: digits without the zeros
// that fill them on the left, text without the blanks on the right.
std::string Normalized(int field, std::string value)
{
    const int type = g_mesg.cells[field - 1].type;
    if (type == kTypeN || type == kTypeNI || type == kTypeNF) {
        const size_t first = value.find_first_not_of('0');
        return first == std::string::npos ? "0" : value.substr(first);
    }
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    return value;
}

}  // namespace

RequestEcho RememberRequest(const std::string &type)
{
    RequestEcho echo{type, {}};
    for (size_t k = 0; k < std::size(kEchoedFields); ++k)
        if (g_mesg.cells[kEchoedFields[k] - 1].used != 0)
            echo.values[k] = FieldText(kEchoedFields[k]);
    return echo;
}

std::string ReplyMismatch(const RequestEcho &request, const std::string &fixedType)
{
    const std::string want = ReplyType(request.type, fixedType);
    if (want != g_mesg.packet.txcode)
        return "reply type " + Escaped(g_mesg.packet.txcode) + " does not answer " + Escaped(request.type) +
               " (expected " + Escaped(want) + ")";
    for (size_t k = 0; k < std::size(kEchoedFields); ++k) {
        const int field = kEchoedFields[k];
        if (request.values[k].empty())
            continue;
        if (!Received(field))
            return "field " + std::to_string(field) + " was sent as " + Escaped(request.values[k]) +
                   " but is missing from the reply";
        const std::string got = FieldText(field);
        if (Normalized(field, got) != Normalized(field, request.values[k]))
            return "field " + std::to_string(field) + " came back as " + Escaped(got) + ", sent as " +
                   Escaped(request.values[k]);
    }
    return "";
}

std::string ShownValue(int field, const std::set<int> &masked, bool unmask)
{
    const std::string value = FieldText(field);
    return unmask || masked.count(field) == 0 ? Escaped(value) : Escaped(Mask(value));
}

std::string ReplyTable(const std::set<int> &masked, bool unmask)
{
    std::string out = "reply " + Escaped(g_mesg.packet.txcode) + "\n";
    char row[200];
    std::snprintf(row, sizeof row, "  %5s  %-12s %-4s %s\n", "field", "name", "type", "value");
    out += row;
    for (int f = 1; f <= kCellCount; ++f) {
        if (!Received(f))
            continue;
        std::snprintf(row, sizeof row, "  %5d  %-12s %-4s ", f, Escaped(g_mesg.cells[f - 1].name).c_str(),
                      TypeName(g_mesg.cells[f - 1].type));
        out += row + ShownValue(f, masked, unmask) + "\n";
    }
    return out;
}

std::string ReplyJson(const std::set<int> &masked, bool unmask, const char *mac, const std::string &mismatch)
{
    std::string out = "{\"type\":" + JsonString(g_mesg.packet.txcode) + ",\"fields\":[";
    bool first = true;
    for (int f = 1; f <= kCellCount; ++f) {
        if (!Received(f))
            continue;
        out += std::string(first ? "" : ",") + "{\"number\":" + std::to_string(f) +
               ",\"name\":" + JsonString(g_mesg.cells[f - 1].name) +
               ",\"type\":" + JsonString(TypeName(g_mesg.cells[f - 1].type)) +
               ",\"value\":" + JsonString(unmask || masked.count(f) == 0 ? FieldText(f) : Mask(FieldText(f))) + "}";
        first = false;
    }
    out += "],\"mac\":" + JsonString(mac) + ",\"answers_request\":" + (mismatch.empty() ? "true" : "false");
    if (!mismatch.empty())
        out += ",\"mismatch\":" + JsonString(mismatch);
    return out + "}";
}

}  // namespace tranpak::tools
