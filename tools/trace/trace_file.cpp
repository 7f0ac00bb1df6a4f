// Reading trace files: header lines and dump lines, by hand rather than by
// a regular-expression engine, so that a number of any size is refused
// instead of thrown; then blocks, and frames from blocks.
#include "../common/cli.h"
#include "../common/tool_support.h"
#include "../common/shown_text.h"
#include "decode.h"
#include "trace_stream.h"
#include "wire.h"
#include "wire_format.h"

#include <utility>

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
    if (line.size() < 17 || line[0] != '{' || line.back() != ']' || !IsTraceTime(line.substr(1, 14)) || line[15] != ' ')
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

BlockReader::BlockReader(BlockSink onBlock, NoteSink onNote) : onBlock_(std::move(onBlock)), onNote_(std::move(onNote))
{
}

void BlockReader::Line(long number, const std::string &line)
{
    TraceBlock header;
    if (ParseHeader(line, &header)) {
        Finish();
        block_ = std::move(header);
        block_.bytes.reserve(kTraceBlockMax);
        open_ = true;
        headerLine_ = number;
        return;
    }
    std::string bytes;
    if (!open_ || !ParseDumpLine(line, &bytes))
        return;
    const size_t room = kTraceBlockMax - block_.bytes.size();
    block_.bytes.append(bytes, 0, room);
    dropped_ += bytes.size() > room ? bytes.size() - room : 0;
}

void BlockReader::Finish()
{
    if (!open_)
        return;
    if (dropped_ != 0)
        onNote_("line " + std::to_string(headerLine_) + ": block \"" + Escaped(block_.label) +
                "\" is longer than any frame: " + std::to_string(dropped_) + " bytes after its first " +
                std::to_string(kTraceBlockMax) + " not kept");
    onBlock_(block_);
    open_ = false;
    dropped_ = 0;
}

FrameJoiner::FrameJoiner(FrameSink onFrame, const wire::WireFormat *format)
    : onFrame_(std::move(onFrame)), format_(format != nullptr && !wire::IsSeedFormat(*format) ? format : nullptr)
{
}

void FrameJoiner::Block(const TraceBlock &b)
{
    const bool isData = b.label == "recv mesg data";
    if (haveHead_) {
        haveHead_ = false;
        if (isData) {
            onFrame_({head_.time, "received", head_.bytes + b.bytes});
            return;
        }
        onFrame_({head_.time, "received", head_.bytes});
    }
    if (b.label == "recv mesg head") {
        head_ = b;
        haveHead_ = true;
    } else if (isData && format_ != nullptr) {
        // Its head was not traced: the start byte and the length of the
        // dialect, for the data's body (the header is in the data).
        const wire::WireFormat &f = *format_;
        unsigned char head[1 + wire::kMaxLengthSize + wire::kMaxHeaderSize];
        const unsigned char unused[wire::kMaxHeaderSize] = {};
        const int body = static_cast<int>(b.bytes.size()) - f.headerLen - wire::FrameTailSize(f);
        const bool made = body >= 0 && wire::PutFrameHead(f, head, body, unused);
        const size_t headSize = made ? static_cast<size_t>(wire::FrameHeadSize(f) - f.headerLen) : 0;
        onFrame_(
            {b.time, "received (head not traced)", std::string(reinterpret_cast<char *>(head), headSize) + b.bytes});
    } else if (isData) {
        // Its head was not traced: start byte and len (the data less
        // its stop byte), as the head would have said.
        unsigned char head[wire::kPacketHeadSize];
        const size_t len = b.bytes.empty() ? 0 : b.bytes.size() - 1;
        wire::PutPacketHead(head, static_cast<int>(len % 10000));
        onFrame_(
            {b.time, "received (head not traced)", std::string(reinterpret_cast<char *>(head), sizeof head) + b.bytes});
    } else {
        onFrame_({b.time, b.label == "send mesg body" ? "sent" : b.label, b.bytes});
    }
}

void FrameJoiner::Finish()
{
    if (haveHead_)
        onFrame_({head_.time, "received", head_.bytes});
    haveHead_ = false;
}

std::vector<TraceBlock> ParseTrace(const std::string &text)
{
    std::vector<TraceBlock> blocks;
    const NoteSink ignore = [](const std::string &) {};
    BlockReader reader([&](const TraceBlock &b) { blocks.push_back(b); }, ignore);
    LineSplitter lines([&](long number, const std::string &line) { reader.Line(number, line); }, ignore);
    lines.Feed(text.data(), text.size());
    lines.Finish();
    reader.Finish();
    return blocks;
}

std::vector<TracedFrame> JoinFrames(const std::vector<TraceBlock> &blocks)
{
    std::vector<TracedFrame> frames;
    FrameJoiner joiner([&](const TracedFrame &f) { frames.push_back(f); });
    for (const TraceBlock &b : blocks)
        joiner.Block(b);
    joiner.Finish();
    return frames;
}

}  // namespace tranpak::tools
