// A decoded frame as text for people, or as one JSON object per frame.
#include "../common/shown_text.h"
#include "decode.h"

#include <cstdio>
#include <sstream>

namespace tranpak::tools {
namespace {

std::string ByteText(unsigned b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

const char *MacText(MacStatus mac)
{
    switch (mac) {
    case MacStatus::kNone:
        return "none";
    case MacStatus::kVerified:
        return "verified";
    case MacStatus::kFailed:
        return "failed";
    default:
        return "not checked";
    }
}

}  // namespace

std::string FrameText(const FrameReport &r)
{
    std::ostringstream out;
    if (!r.complete) {
        if (r.dialect.empty())
            out << "incomplete frame: " << r.size << " bytes, a frame has at least 17 before its data\n";
        else
            out << "incomplete frame: " << r.size << " bytes, a frame of " << r.dialect << " has at least " << r.least
                << "\n";
        out << "raw (" << r.size << " bytes):\n" << r.raw;
        return out.str();
    }
    if (!r.dialect.empty()) {
        out << "wire format: " << r.dialect << "\n";
        out << "framing:";
        if (r.envelope)
            out << " start " << ByteText(r.start) << (r.startOk ? " ok," : " WRONG,");
        if (!r.digits.empty())
            out << " length " << r.digits << " says "
                << (r.lengthValue >= 0 ? std::to_string(r.lengthValue) : std::string("nothing (no length)")) << ", "
                << r.follow << " came" << (r.digitsOk ? "" : " (does NOT match)");
        else
            out << " no length";
        if (!r.header.empty())
            out << ", header " << r.header;
        if (r.envelope)
            out << ", stop " << ByteText(r.stop) << (r.stopOk ? " ok" : " WRONG");
        out << "\n";
    } else {
        out << "framing: start " << ByteText(r.start) << (r.startOk ? " ok" : " WRONG") << ", length digits \""
            << r.digits << "\" " << (r.digitsOk ? "match" : "do NOT match") << " the " << r.follow
            << " bytes that follow, stop " << ByteText(r.stop) << (r.stopOk ? " ok" : " WRONG") << "\n";
    }
    if (!r.failure.empty() && !r.dialect.empty()) {
        // The library read nothing of a frame it refused.
        out << r.failure << "\n";
        out << "raw (" << r.size << " bytes):\n" << r.raw;
        return out.str();
    }
    out << "message type: " << r.type << "\n";
    out << "bitmap: " << r.bitmap << " -> fields";
    for (int f : r.bitmapFields)
        out << " " << f;
    out << "\n";
    char row[160];
    std::snprintf(row, sizeof row, "  %5s  %-12s %-4s %-6s %s\n", "field", "name", "type", "prefix", "value");
    out << row;
    for (const FieldReport &f : r.fields) {
        std::snprintf(row, sizeof row, "  %5d  %-12s %-4s %-6s ", f.number, f.name.c_str(), f.type.c_str(),
                      f.prefix.c_str());
        out << row << f.value << "\n";
    }
    if (!r.failure.empty())
        out << r.failure << "\n";
    else if (r.trailing != 0)
        out << "note: " << r.trailing << " bytes follow the last field\n";
    switch (r.mac) {
    case MacStatus::kNotChecked:
        out << "MAC: not checked (no key given)\n";
        break;
    case MacStatus::kNone:
        out << "MAC: none in this frame\n";
        break;
    case MacStatus::kVerified:
        out << "MAC: verified with the given key\n";
        break;
    case MacStatus::kFailed:
        out << "MAC: does NOT verify with the given key\n";
        break;
    }
    if (!r.ok())
        out << "raw (" << r.size << " bytes):\n" << r.raw;
    return out.str();
}

std::string FrameJson(const FrameReport &r, const std::string &time, const std::string &label)
{
    std::ostringstream out;
    const auto yes = [](bool b) { return b ? "true" : "false"; };
    out << "{";
    if (r.complete) {
        // The message first, in the one shape every JSON of a message has
        // (TpDescribe's): its type, and its fields by number.
        out << "\"type\": " << JsonString(r.type) << ", \"fields\": {";
        for (size_t i = 0; i < r.fields.size(); ++i) {
            const FieldReport &f = r.fields[i];
            out << (i ? ", " : "") << "\"" << f.number << "\": {\"name\": " << JsonString(f.name)
                << ", \"type\": " << JsonString(f.type) << ", \"value\": " << JsonString(f.value) << "}";
        }
        out << "}, ";
    }
    // The label is the trace's own text: escaped as in the text output, so
    // that a program printing the decoded string passes on no control.
    out << "\"time\": " << JsonString(Escaped(time)) << ", \"direction\": " << JsonString(Escaped(label))
        << ", \"bytes\": " << r.size << ", \"ok\": " << yes(r.ok()) << ", \"complete\": " << yes(r.complete);
    if (r.complete && !r.dialect.empty()) {
        out << ", \"wire_format\": " << JsonString(r.dialect) << ", \"framing\": {\"length\": " << JsonString(r.digits)
            << ", \"length_value\": " << r.lengthValue << ", \"length_ok\": " << yes(r.digitsOk)
            << ", \"header\": " << JsonString(r.header) << ", \"start_ok\": " << yes(r.startOk)
            << ", \"stop_ok\": " << yes(r.stopOk) << "}";
    } else if (r.complete) {
        out << ", \"framing\": {\"start\": " << JsonString(ByteText(r.start)) << ", \"start_ok\": " << yes(r.startOk)
            << ", \"length_digits\": " << JsonString(r.digits) << ", \"length_ok\": " << yes(r.digitsOk)
            << ", \"stop\": " << JsonString(ByteText(r.stop)) << ", \"stop_ok\": " << yes(r.stopOk) << "}";
    }
    if (r.complete) {
        out << ", \"bitmap\": " << JsonString(r.bitmap) << ", \"length_prefixes\": {";
        bool first = true;
        for (const FieldReport &f : r.fields) {
            if (f.prefix.empty())
                continue;
            out << (first ? "" : ", ") << "\"" << f.number << "\": " << JsonString(f.prefix);
            first = false;
        }
        out << "}";
        if (!r.failure.empty())
            out << ", \"error\": " << JsonString(r.failure);
        out << ", \"trailing_bytes\": " << r.trailing << ", \"mac\": " << JsonString(MacText(r.mac));
    }
    if (!r.ok())
        out << ", \"raw\": " << JsonString(r.raw);
    out << "}";
    return out.str();
}

}  // namespace tranpak::tools
