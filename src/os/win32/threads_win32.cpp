// Threads, a lock and a condition on Windows, from the system: the
// compiler of the Windows packages has no std::thread or std::mutex. The
// system's objects live inside the Thread, Mutex and CondVar that own them.
#include "os/os_programs.h"

#include <windows.h>

#include <new>

namespace tranpak::os {

static_assert(sizeof(HANDLE) <= Thread::kHandleSize && alignof(HANDLE) <= 8, "HANDLE fits a Thread");
static_assert(sizeof(CRITICAL_SECTION) <= kMutexSize && alignof(CRITICAL_SECTION) <= 8,
              "CRITICAL_SECTION fits a Mutex");
static_assert(sizeof(CONDITION_VARIABLE) <= kCondVarSize && alignof(CONDITION_VARIABLE) <= 8,
              "CONDITION_VARIABLE fits a CondVar");

namespace {

HANDLE *HandleIn(unsigned char *storage) { return std::launder(reinterpret_cast<HANDLE *>(storage)); }
CRITICAL_SECTION *SectionIn(unsigned char *storage)
{
    return std::launder(reinterpret_cast<CRITICAL_SECTION *>(storage));
}
CONDITION_VARIABLE *ConditionIn(unsigned char *storage)
{
    return std::launder(reinterpret_cast<CONDITION_VARIABLE *>(storage));
}

}  // namespace

// The new thread reads body_ and arg_ from the Thread, which the caller
// keeps until it joins.
struct ThreadEntry {
    static DWORD WINAPI Run(LPVOID self)
    {
        auto *t = static_cast<Thread *>(self);
        t->body_(t->arg_);
        return 0;
    }
};

Thread::~Thread() { Join(); }

bool Thread::Start(void (*body)(void *arg), void *arg)
{
    if (started_ || body == nullptr)
        return false;
    body_ = body;
    arg_ = arg;
    HANDLE h = CreateThread(nullptr, 0, ThreadEntry::Run, this, 0, nullptr);
    if (h == nullptr)
        return false;
    ::new (static_cast<void *>(handle_)) HANDLE(h);
    started_ = true;
    return true;
}

void Thread::Join()
{
    if (!started_)
        return;
    WaitForSingleObject(*HandleIn(handle_), INFINITE);
    CloseHandle(*HandleIn(handle_));
    started_ = false;
}

Mutex::Mutex() { InitializeCriticalSection(::new (static_cast<void *>(impl_)) CRITICAL_SECTION{}); }

Mutex::~Mutex() { DeleteCriticalSection(SectionIn(impl_)); }

void Mutex::Lock() { EnterCriticalSection(SectionIn(impl_)); }
void Mutex::Unlock() { LeaveCriticalSection(SectionIn(impl_)); }

CondVar::CondVar() { InitializeConditionVariable(::new (static_cast<void *>(impl_)) CONDITION_VARIABLE{}); }

CondVar::~CondVar() {}

void CondVar::Wait(Mutex &held, int millis)
{
    SleepConditionVariableCS(ConditionIn(impl_), SectionIn(held.impl_), static_cast<DWORD>(millis));
}

void CondVar::WakeAll() { WakeAllConditionVariable(ConditionIn(impl_)); }

}  // namespace tranpak::os
