// Threads, a lock and a condition on Windows, from the system: the
// compiler of the Windows packages has no std::thread or std::mutex. The
// system calls (a Thread's bookkeeping is in threads_common.cpp); the
// system's objects live inside the Thread, Mutex and CondVar that own them.
#include "os/threads_common.h"

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

namespace {

DWORD WINAPI Run(LPVOID self)
{
    ThreadEntry::RunBody(self);
    return 0;
}

}  // namespace

bool ThreadEntry::Create(Thread &t)
{
    HANDLE h = CreateThread(nullptr, 0, Run, &t, 0, nullptr);
    if (h == nullptr)
        return false;
    ::new (static_cast<void *>(t.handle_)) HANDLE(h);
    return true;
}

void ThreadEntry::Reap(Thread &t)
{
    WaitForSingleObject(*HandleIn(t.handle_), INFINITE);
    CloseHandle(*HandleIn(t.handle_));
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
