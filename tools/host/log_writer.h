// The host's log: lines handed over by any connection's thread go through
// a bounded queue to one writer thread, so serving never waits on standard
// output. When nobody reads it (a paused pager, a stuck log shipper), the
// lines beyond the queue's room are counted and dropped, and once it is
// read again a line where they are missing tells how many:
//
//   tranpak-host: 5120 log lines dropped while standard output was not read
#ifndef TRANPAK_TOOLS_LOG_WRITER_H
#define TRANPAK_TOOLS_LOG_WRITER_H

#include "os_programs.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tranpak::tools {

// Bytes of lines that may wait to be written: some thousands of lines.
inline constexpr size_t kLogQueueBytes = 1 << 20;

class LogWriter {
public:
    // Takes the bytes of one whole line; false when they cannot be written
    // (nothing is written after that). Standard output instead takes every
    // line gathered since the last write at once.
    using Sink = std::function<bool(const std::string &bytes)>;

    // Writes through sink, or to standard output when it is empty.
    explicit LogWriter(Sink sink = {}, size_t room = kLogQueueBytes);
    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;
    // Only after Finish returned true, or when Start never ran.
    ~LogWriter();

    // Starts the writer thread; without one every line is written at once
    // by the thread that puts it.
    void Start();
    // Hands over one whole line, newline included; never waits on the sink.
    void Put(std::string line);
    // Ends the writer once every line put so far is written, waiting at
    // most millis. False when the sink still holds it: the writer is left
    // as it is and must be neither destroyed nor waited for again.
    bool Finish(int millis);

    // False once a write failed.
    bool Works() const { return works_; }
    // Lines dropped so far for want of room.
    long long Dropped() const { return dropped_; }

private:
    struct Entry {
        std::string line;
        long long droppedBefore;  // lines missing between the one before and this one
    };
    void Run();
    void Write(const std::string &bytes);
    // Lines taken from the queue together: one write to standard output,
    // one call each of another sink.
    void WriteLines(const std::vector<std::string> &lines);

    Sink sink_;
    size_t room_;
    bool toStdout_;
    os::Mutex lock_;
    os::CondVar wake_;
    std::deque<Entry> queue_;  // guarded by lock_, as are the three below
    size_t queued_ = 0;        // bytes in queue_
    long long pending_ = 0;    // dropped since the last line queued
    bool finishing_ = false, done_ = false;
    bool gathering_ = false;  // the writer lets lines gather after a write
    bool threaded_ = false;
    os::Thread thread_;
    std::atomic<bool> works_{true};
    std::atomic<long long> dropped_{0};
};

}  // namespace tranpak::tools

#endif
