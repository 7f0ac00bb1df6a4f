#include "decode.h"

#include "../common/tool_support.h"
#include "core/mesg_state.h"
#include "core/text_check.h"
#include "packet/bitmap.h"
#include "packet/des.h"
#include "packet/mac.h"

#include <cstdio>
#include <cstring>
#include <regex>
#include <sstream>

namespace tranpak::tools {
namespace {

// "0016 : 03-00-FF-7F ... || ...." : 16 slots of three characters from
// column 6, each a separator and two hex digits, or three blanks.
void ParseDumpLine(const std::string &line, std::string *bytes)
{
    for (int j = 0; j < 16; ++j) {
        size_t at = 6 + 3 * static_cast<size_t>(j) + 1;
        if (line.size() < at + 2 || line[at] == ' ')
            return;
        std::string byte;
        if (ParseHex(line.substr(at, 2), &byte))
            *bytes += byte;
    }
}

std::string Printable(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    return out;
}

bool ContentPasses(int type, const std::string &value)
{
    switch (type) {
    case kTypeNI:
    case kTypeNF:
    case kTypeN:
        return IsNumberText(value.c_str()) != 0;
    case kTypeA:
        return IsAlphaText(value.c_str()) != 0;
    case kTypeAN:
        return IsAlnumText(value.c_str()) != 0;
    default:
        return true;
    }
}

void RawHex(std::ostringstream &out, const std::string &frame)
{
    out << "raw (" << frame.size() << " bytes):\n";
    for (size_t i = 0; i < frame.size(); i += 16)
        out << "  " << ToHex(frame.data() + i, frame.size() - i < 16 ? frame.size() - i : 16, " ") << "\n";
}

}  // namespace

std::vector<TraceBlock> ParseTrace(const std::string &text)
{
    static const std::regex kHeader(R"(^\{(\d\d-\d\d \d\d:\d\d:\d\d) (.*)\} \[len = (\d+)\]\r?$)");
    static const std::regex kDump(R"(^\d{4} :.*)");
    std::vector<TraceBlock> blocks;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, kHeader)) {
            blocks.push_back({m[1], m[2], std::stoi(m[3]), ""});
        } else if (!blocks.empty() && std::regex_match(line, kDump)) {
            ParseDumpLine(line, &blocks.back().bytes);
        }
    }
    return blocks;
}

std::vector<TracedFrame> JoinFrames(const std::vector<TraceBlock> &blocks)
{
    std::vector<TracedFrame> frames;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const TraceBlock &b = blocks[i];
        if (b.label == "recv mesg head") {
            std::string bytes = b.bytes;
            if (i + 1 < blocks.size() && blocks[i + 1].label == "recv mesg data")
                bytes += blocks[++i].bytes;
            frames.push_back({b.time, "received", bytes});
        } else {
            frames.push_back({b.time, b.label == "send mesg body" ? "sent" : b.label, b.bytes});
        }
    }
    return frames;
}

std::string Mask(const std::string &value)
{
    if (value.size() <= 4)
        return std::string(value.size(), '*');
    return std::string(value.size() - 4, '*') + value.substr(value.size() - 4);
}

std::string DescribeFrame(const std::string &frame, const DecodeOptions &options)
{
    std::ostringstream out;
    const auto *bytes = reinterpret_cast<const unsigned char *>(frame.data());
    if (frame.size() < 17) {
        out << "incomplete frame: " << frame.size() << " bytes, a frame has at least 17 before its data\n";
        RawHex(out, frame);
        return out.str();
    }
    char start[8];
    std::snprintf(start, sizeof start, "0x%02X", bytes[0]);
    const std::string digits = frame.substr(1, 4);
    const int follow = static_cast<int>(frame.size()) - 6;
    const bool digitsOk = IsNumberText(digits.c_str()) && std::atoi(digits.c_str()) == follow;
    char stop[8];
    std::snprintf(stop, sizeof stop, "0x%02X", bytes[frame.size() - 1]);
    out << "framing: start " << start << (bytes[0] == 0x02 ? " ok" : " WRONG") << ", length digits \""
        << Printable(digits) << "\" " << (digitsOk ? "match" : "do NOT match") << " the " << follow
        << " bytes that follow, stop " << stop << (bytes[frame.size() - 1] == 0x03 ? " ok" : " WRONG") << "\n";
    out << "message type: " << Printable(frame.substr(5, 4)) << "\n";

    unsigned char bitmap[8];
    std::memcpy(bitmap, bytes + 9, 8);
    std::string fields;
    for (int i = 0; i < kCellCount; ++i)
        if (TestBit(bitmap, i))
            fields += " " + std::to_string(i + 1);
    out << "bitmap: " << ToHex(bitmap, 8, " ") << " -> fields" << fields << "\n";

    const std::string data = frame.substr(17, frame.size() - 18);
    char row[160];
    std::snprintf(row, sizeof row, "  %5s  %-12s %-4s %-6s %s\n", "field", "name", "type", "prefix", "value");
    out << row;
    size_t offset = 0;
    for (int i = 0; i < kCellCount; ++i) {
        if (!TestBit(bitmap, i))
            continue;
        const BMPCell &cell = g_mesg.cells[i];
        std::string prefix, reason;
        size_t count = static_cast<size_t>(cell.maxlen);
        if (cell.varlen == 0 && cell.maxlen == 0) {
            reason = "no definition for this field";
        } else if (cell.varlen > 0) {
            if (offset + static_cast<size_t>(cell.varlen) > data.size()) {
                reason = "length prefix runs past the data";
            } else {
                prefix = data.substr(offset, static_cast<size_t>(cell.varlen));
                bool digitsOnly = !prefix.empty();
                for (char c : prefix)
                    digitsOnly = digitsOnly && IsCDigit(c);
                if (!digitsOnly)
                    reason = "length prefix \"" + Printable(prefix) + "\" is not a number";
                else if (std::atoi(prefix.c_str()) > cell.maxlen)
                    reason = "length " + prefix + " is above the field's maximum " + std::to_string(cell.maxlen);
                else
                    count = static_cast<size_t>(std::atoi(prefix.c_str()));
            }
        }
        const size_t valueAt = offset + prefix.size();
        if (reason.empty() && valueAt + count > data.size())
            reason = "value of " + std::to_string(count) + " bytes runs past the data";
        std::string value = reason.empty() ? data.substr(valueAt, count) : "";
        if (reason.empty() && cell.type != kTypeB && !ContentPasses(cell.type, value))
            reason = "value \"" + Printable(value) + "\" is not " + TypeName(cell.type);
        if (!reason.empty()) {
            out << "field " << i + 1 << " (" << (cell.name[0] ? cell.name : "undefined") << ") does not decode at data offset "
                << offset << " (frame offset " << offset + 17 << "): " << reason << "\n";
            RawHex(out, frame);
            return out.str();
        }
        std::string shown = cell.type == kTypeB ? ToHex(value.data(), value.size()) : Printable(value);
        if (options.masked.count(i + 1) && !options.unmask)
            shown = Mask(shown);
        std::snprintf(row, sizeof row, "  %5d  %-12s %-4s %-6s ", i + 1, cell.name, TypeName(cell.type), prefix.c_str());
        out << row << shown << "\n";
        offset = valueAt + count;
    }
    if (offset != data.size())
        out << "note: " << data.size() - offset << " bytes follow the last field\n";

    if (!options.haveKey) {
        out << "MAC: not checked (no key given)\n";
    } else if (!TestBit(bitmap, kMacCell) || data.size() < 8) {
        out << "MAC: none in this frame\n";
    } else {
        unsigned char acc[8], mac[8];
        FoldMac(reinterpret_cast<const unsigned char *>(data.data()), static_cast<int>(data.size() - 8), acc);
        DesBlock(acc, mac, options.key);
        bool ok = std::memcmp(mac, data.data() + data.size() - 8, 8) == 0;
        out << "MAC: " << (ok ? "verified" : "does NOT verify") << " with the given key\n";
    }
    return out.str();
}

}  // namespace tranpak::tools
