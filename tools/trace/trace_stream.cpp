// Reading a trace in chunks and cutting it into lines. A line feed may
// fall anywhere in a chunk, or in none: a line is built up across chunks
// and only its first kTraceLineMax bytes are ever held.
#include "trace_stream.h"

#include <cstring>
#include <utility>
#include <vector>

namespace tranpak::tools {

LineSplitter::LineSplitter(LineSink onLine, NoteSink onNote) : onLine_(std::move(onLine)), onNote_(std::move(onNote))
{
    line_.reserve(kTraceLineMax);
}

void LineSplitter::Feed(const char *bytes, size_t count)
{
    while (count > 0) {
        const auto *lf = static_cast<const char *>(std::memchr(bytes, '\n', count));
        const size_t piece = lf != nullptr ? static_cast<size_t>(lf - bytes) : count;
        if (length_ + piece <= kTraceLineMax)
            line_.append(bytes, piece);
        length_ += piece;
        if (lf == nullptr)
            return;
        EndLine();
        bytes += piece + 1;
        count -= piece + 1;
    }
}

void LineSplitter::Finish()
{
    if (length_ > 0)
        EndLine();
}

void LineSplitter::EndLine()
{
    if (length_ <= kTraceLineMax)
        onLine_(number_, line_);
    else
        onNote_("line " + std::to_string(number_) + ": not a trace line (" + std::to_string(length_) + " bytes)");
    line_.clear();
    length_ = 0;
    ++number_;
}

TraceStream::TraceStream(FrameSink onFrame, NoteSink onNote, const wire::WireFormat *format)
    : frames_(std::move(onFrame), format),
      blocks_([this](const TraceBlock &b) { frames_.Block(b); }, onNote),
      lines_([this](long number, const std::string &line) { blocks_.Line(number, line); }, onNote)
{
}

void TraceStream::Finish()
{
    lines_.Finish();
    blocks_.Finish();
    frames_.Finish();
}

bool ReadTrace(std::FILE *in, TraceStream *stream, const std::function<bool()> &more)
{
    std::vector<char> chunk(kTraceChunkSize);
    size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
        stream->Feed(chunk.data(), got);
        if (more && !more())
            return std::ferror(in) == 0;
    }
    stream->Finish();
    return std::ferror(in) == 0;
}

}  // namespace tranpak::tools
