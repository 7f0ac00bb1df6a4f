// Reading trace files: header lines and dump lines, by hand rather than by
// a regular-expression engine, so that a hostile line of any length costs
// one pass and a number of any size is refused instead of thrown.
#include "../common/cli.h"
#include "../common/tool_support.h"
#include "decode.h"

#include <cstdio>
#include <sstream>

namespace tranpak::tools {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "MM-DD HH:MM:SS": digits where digits go, the separators in between.
bool IsTraceTime(const std::string &s)
{
    static const char kShape[] = "dd-dd dd:dd:dd";
    if (s.size() != sizeof kShape - 1)
        return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (kShape[i] == 'd' ? !IsDigit(s[i]) : s[i] != kShape[i])
            return false;
    return true;
}

// "{MM-DD HH:MM:SS LABEL} [len = NNN]", optionally followed by a CR.
bool ParseHeader(std::string line, TraceBlock *block)
{
    static const std::string kCount = "} [len = ";
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() < 17 || line[0] != '{' || line.back() != ']' || !IsTraceTime(line.substr(1, 14)) ||
        line[15] != ' ')
        return false;
    const size_t count = line.rfind(kCount);
    if (count == std::string::npos || count < 16)
        return false;
    const size_t digitsAt = count + kCount.size();
    long n;
    if (digitsAt >= line.size() || !ParseInteger(line.substr(digitsAt, line.size() - 1 - digitsAt), 0, 99999999, &n))
        return false;
    block->time = line.substr(1, 14);
    block->label = line.substr(16, count - 16);
    block->count = n;
    block->bytes.clear();
    return true;
}

// "0016 : 03-00-FF-7F ... || ....": four digits and " :", then 16 slots
// of three characters, each a separator and two hex digits, or blanks.
bool ParseDumpLine(const std::string &line, std::string *bytes)
{
    if (line.size() < 6 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]) || !IsDigit(line[3]) ||
        line[4] != ' ' || line[5] != ':')
        return false;
    for (size_t j = 0; j < 16; ++j) {
        const size_t at = 6 + 3 * j + 1;
        if (line.size() < at + 2 || line[at] == ' ')
            break;
        std::string byte;
        if (!ParseHex(line.substr(at, 2), &byte))
            break;
        *bytes += byte;
    }
    return true;
}

}  // namespace

std::vector<TraceBlock> ParseTrace(const std::string &text)
{
    std::vector<TraceBlock> blocks;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        TraceBlock header;
        if (ParseHeader(line, &header))
            blocks.push_back(header);
        else if (!blocks.empty())
            ParseDumpLine(line, &blocks.back().bytes);
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
        } else if (b.label == "recv mesg data") {
            // Its head was not traced: start byte and len (the data less
            // its stop byte), as the head would have said.
            char head[8];
            const size_t len = b.bytes.empty() ? 0 : b.bytes.size() - 1;
            std::snprintf(head, sizeof head, "\x02%04zu", len % 10000);
            frames.push_back({b.time, "received (head not traced)", head + b.bytes});
        } else {
            frames.push_back({b.time, b.label == "send mesg body" ? "sent" : b.label, b.bytes});
        }
    }
    return frames;
}

}  // namespace tranpak::tools
