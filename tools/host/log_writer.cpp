#include "log_writer.h"

#include "log_line.h"

#include <chrono>
#include <utility>
#include <vector>

namespace tranpak::tools {
namespace {

// The writer looks at its queue at least this often even when not woken.
constexpr int kIdleWaitMillis = 1000;
// How often Finish looks whether the writer has ended.
constexpr int kFinishSliceMillis = 20;
constexpr int kStdoutFd = 1;
// After each write the writer lets lines gather this long before it looks
// again: under load one wake and one write then serve some hundreds of
// lines, while a line put after a quiet moment is written at once.
constexpr int kGatherMillis = 2;

std::string DropNote(long long lines)
{
    return LogLine(0, std::to_string(lines) + " log lines dropped while standard output was not read");
}

}  // namespace

LogWriter::LogWriter(Sink sink, size_t room) : sink_(std::move(sink)), room_(room), toStdout_(!sink_)
{
    if (toStdout_)
        sink_ = [](const std::string &bytes) {
            return os::WriteBytes(kStdoutFd, bytes.data(), static_cast<int>(bytes.size()));
        };
}

LogWriter::~LogWriter() { thread_.Join(); }

void LogWriter::Start()
{
    threaded_ = thread_.Start([](void *self) { static_cast<LogWriter *>(self)->Run(); }, this);
}

void LogWriter::Put(std::string line)
{
    if (!threaded_) {
        os::LockGuard hold(lock_);
        Write(line);
        return;
    }
    os::LockGuard hold(lock_);
    if (finishing_ || queued_ + line.size() > room_) {
        ++pending_;
        ++dropped_;
        return;
    }
    queued_ += line.size();
    const bool wasEmpty = queue_.empty();
    queue_.push_back(Entry{std::move(line), pending_});
    pending_ = 0;
    // The writer waits for a line only on an empty queue, and is not
    // woken while it lets lines gather; either way it takes these.
    if (wasEmpty && !gathering_)
        wake_.WakeAll();
}

void LogWriter::Write(const std::string &bytes)
{
    if (works_ && !sink_(bytes))
        works_ = false;
}

void LogWriter::WriteLines(const std::vector<std::string> &lines)
{
    if (!toStdout_) {
        for (const std::string &line : lines)
            Write(line);
        return;
    }
    std::string bytes;
    for (const std::string &line : lines)
        bytes += line;
    Write(bytes);
}

void LogWriter::Run()
{
    lock_.Lock();
    for (;;) {
        if (queue_.empty() && pending_ > 0) {
            // Drops with nothing queued after them: the reader has taken
            // every line before the gap.
            const long long lines = pending_;
            pending_ = 0;
            lock_.Unlock();
            Write(DropNote(lines));
            lock_.Lock();
            continue;
        }
        if (queue_.empty()) {
            if (finishing_)
                break;
            wake_.Wait(lock_, kIdleWaitMillis);
            continue;
        }
        std::vector<std::string> lines;
        while (!queue_.empty()) {
            Entry &e = queue_.front();
            if (e.droppedBefore > 0)
                lines.push_back(DropNote(e.droppedBefore));
            queued_ -= e.line.size();
            lines.push_back(std::move(e.line));
            queue_.pop_front();
        }
        lock_.Unlock();
        WriteLines(lines);
        lock_.Lock();
        if (!finishing_) {
            gathering_ = true;
            wake_.Wait(lock_, kGatherMillis);  // only Finish cuts this short
            gathering_ = false;
        }
    }
    done_ = true;
    wake_.WakeAll();
    lock_.Unlock();
}

bool LogWriter::Finish(int millis)
{
    if (!threaded_)
        return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    bool done;
    {
        os::LockGuard hold(lock_);
        finishing_ = true;
        wake_.WakeAll();
        while (!done_ && std::chrono::steady_clock::now() < until)
            wake_.Wait(lock_, kFinishSliceMillis);
        done = done_;
    }
    if (done) {
        thread_.Join();
        threaded_ = false;
    }
    return done;
}

}  // namespace tranpak::tools
