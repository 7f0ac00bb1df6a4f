// Threads, a lock and a condition on Windows, from the system: the
// compiler of the Windows packages has no std::thread or std::mutex.
#include "os/os_programs.h"

#include <windows.h>

namespace tranpak::os {

namespace {

DWORD WINAPI RunBody(LPVOID arg)
{
    auto *body = static_cast<std::function<void()> *>(arg);
    (*body)();
    delete body;
    return 0;
}

}  // namespace

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body)
{
    auto *copy = new std::function<void()>(std::move(body));
    HANDLE h = CreateThread(nullptr, 0, RunBody, copy, 0, nullptr);
    if (h == nullptr) {
        delete copy;
        return false;
    }
    handle_ = h;
    return true;
}

void Thread::Join()
{
    if (handle_ == nullptr)
        return;
    WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

Mutex::Mutex() : impl_(new CRITICAL_SECTION) { InitializeCriticalSection(static_cast<CRITICAL_SECTION *>(impl_)); }

Mutex::~Mutex()
{
    DeleteCriticalSection(static_cast<CRITICAL_SECTION *>(impl_));
    delete static_cast<CRITICAL_SECTION *>(impl_);
}

void Mutex::Lock() { EnterCriticalSection(static_cast<CRITICAL_SECTION *>(impl_)); }
void Mutex::Unlock() { LeaveCriticalSection(static_cast<CRITICAL_SECTION *>(impl_)); }

CondVar::CondVar() : impl_(new CONDITION_VARIABLE) { InitializeConditionVariable(static_cast<CONDITION_VARIABLE *>(impl_)); }

CondVar::~CondVar() { delete static_cast<CONDITION_VARIABLE *>(impl_); }

void CondVar::Wait(Mutex &held, int millis)
{
    SleepConditionVariableCS(static_cast<CONDITION_VARIABLE *>(impl_), static_cast<CRITICAL_SECTION *>(held.impl_),
                             static_cast<DWORD>(millis));
}

void CondVar::WakeAll() { WakeAllConditionVariable(static_cast<CONDITION_VARIABLE *>(impl_)); }

}  // namespace tranpak::os
