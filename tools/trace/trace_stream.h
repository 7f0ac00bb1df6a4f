// A trace read as a stream: the input in fixed chunks, cut into lines,
// lines into blocks, blocks into frames, each frame handed on as soon as
// the next block (or the end) shows it is whole. What is kept at any time
// is one chunk, one line, one block and a received head waiting for its
// data, whatever the size of the input.
#ifndef TRANPAK_TOOLS_TRACE_STREAM_H
#define TRANPAK_TOOLS_TRACE_STREAM_H

#include "decode.h"
#include "wire_format.h"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace tranpak::tools {

// The input is read this many bytes at a time.
inline constexpr size_t kTraceChunkSize = 64 * 1024;
// The library's lines are at most 75 bytes (a dump line with a CR);
// hand-written traces get room for longer labels. A longer line can only
// be garbage: it is read to its end without being kept.
inline constexpr size_t kTraceLineMax = 256;
// One byte more than the longest frame (start byte, 4 length digits, at
// most 9999 bytes, stop byte), so that a block cut here still fails the
// frame's length check.
inline constexpr size_t kTraceBlockMax = 10006;

// Says what was left out of the input and where, e.g.
// "line 7: not a trace line (104857600 bytes)".
using NoteSink = std::function<void(const std::string &note)>;
using LineSink = std::function<void(long number, const std::string &line)>;
using BlockSink = std::function<void(const TraceBlock &block)>;
using FrameSink = std::function<void(const TracedFrame &frame)>;

// Bytes in pieces of any size to lines without their line feed, numbered
// from 1; a last line without one is a line too.
class LineSplitter {
public:
    LineSplitter(LineSink onLine, NoteSink onNote);
    void Feed(const char *bytes, size_t count);
    void Finish();

private:
    void EndLine();

    LineSink onLine_;
    NoteSink onNote_;
    std::string line_;   // at most kTraceLineMax bytes
    size_t length_ = 0;  // of the line so far, kept or not
    long number_ = 1;
};

// Header and dump lines to blocks; any other line is skipped. A block's
// bytes beyond kTraceBlockMax are counted, noted and dropped.
class BlockReader {
public:
    BlockReader(BlockSink onBlock, NoteSink onNote);
    void Line(long number, const std::string &line);
    void Finish();

private:
    BlockSink onBlock_;
    NoteSink onNote_;
    TraceBlock block_;
    bool open_ = false;
    long headerLine_ = 0;
    size_t dropped_ = 0;
};

// Blocks to frames: a received head is held until the next block shows
// whether its data follows. Data without its head gets one made in the
// dialect given (nullptr: the seed's).
class FrameJoiner {
public:
    explicit FrameJoiner(FrameSink onFrame, const wire::WireFormat *format = nullptr);
    void Block(const TraceBlock &block);
    void Finish();

private:
    FrameSink onFrame_;
    const wire::WireFormat *format_;
    TraceBlock head_;
    bool haveHead_ = false;
};

// The three in a row.
class TraceStream {
public:
    TraceStream(FrameSink onFrame, NoteSink onNote, const wire::WireFormat *format = nullptr);
    void Feed(const char *bytes, size_t count) { lines_.Feed(bytes, count); }
    void Finish();

private:
    FrameJoiner frames_;
    BlockReader blocks_;
    LineSplitter lines_;
};

// Reads in to its end through stream, then finishes it; false when a read
// failed (the frames before it are handed on all the same). With more
// given, reading also stops, unfinished, as soon as it says false after
// a chunk: output nobody takes any more ends the work at once.
bool ReadTrace(std::FILE *in, TraceStream *stream, const std::function<bool()> &more = {});

}  // namespace tranpak::tools

#endif
