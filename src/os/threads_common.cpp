// Threads for the programs: the bookkeeping of a Thread, the same on
// every platform. Each platform's threads file (posix/, win32/) makes and
// reaps the system's threads (threads_common.h) and gives the lock and
// the condition.
#include "os/threads_common.h"

namespace tranpak::os {

Thread::~Thread() { Join(); }

bool Thread::Start(void (*body)(void *arg), void *arg)
{
    if (started_ || body == nullptr)
        return false;
    body_ = body;
    arg_ = arg;
    if (!ThreadEntry::Create(*this))
        return false;
    started_ = true;
    return true;
}

void Thread::Join()
{
    if (!started_)
        return;
    ThreadEntry::Reap(*this);
    started_ = false;
}

}  // namespace tranpak::os
