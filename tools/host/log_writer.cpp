#include "log_writer.h"

#include "log_line.h"

#include <chrono>
#include <utility>

namespace tranpak::tools {
namespace {

// The writer looks at its queue at least this often even when not woken.
constexpr int kIdleWaitMillis = 1000;
// How often Finish looks whether the writer has ended.
constexpr int kFinishSliceMillis = 20;
constexpr int kStdoutFd = 1;

std::string DropNote(long long lines)
{
    return LogLine(0, std::to_string(lines) + " log lines dropped while standard output was not read");
}

}  // namespace

LogWriter::LogWriter(Sink sink, size_t room) : sink_(std::move(sink)), room_(room)
{
    if (!sink_)
        sink_ = [](const std::string &bytes) {
            return os::WriteBytes(kStdoutFd, bytes.data(), static_cast<int>(bytes.size()));
        };
}

LogWriter::~LogWriter() { thread_.Join(); }

void LogWriter::Start()
{
    threaded_ = thread_.Start([this] { Run(); });
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
    queue_.push_back(Entry{std::move(line), pending_});
    pending_ = 0;
    wake_.WakeAll();
}

void LogWriter::Write(const std::string &bytes)
{
    if (works_ && !sink_(bytes))
        works_ = false;
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
        Entry e = std::move(queue_.front());
        queue_.pop_front();
        queued_ -= e.line.size();
        lock_.Unlock();
        Write(e.droppedBefore > 0 ? DropNote(e.droppedBefore) + e.line : e.line);
        lock_.Lock();
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
