// Threads, a lock and a condition on POSIX systems (pthreads), for the
// programs that serve or load many connections at once.
#include "os/os_programs.h"

#include <pthread.h>
#include <ctime>

namespace tranpak::os {

namespace {

void *RunBody(void *arg)
{
    auto *body = static_cast<std::function<void()> *>(arg);
    (*body)();
    delete body;
    return nullptr;
}

}  // namespace

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body)
{
    auto *copy = new std::function<void()>(std::move(body));
    auto *id = new pthread_t;
    if (pthread_create(id, nullptr, RunBody, copy) != 0) {
        delete copy;
        delete id;
        return false;
    }
    handle_ = id;
    return true;
}

void Thread::Join()
{
    if (handle_ == nullptr)
        return;
    auto *id = static_cast<pthread_t *>(handle_);
    pthread_join(*id, nullptr);
    delete id;
    handle_ = nullptr;
}

Mutex::Mutex() : impl_(new pthread_mutex_t) { pthread_mutex_init(static_cast<pthread_mutex_t *>(impl_), nullptr); }

Mutex::~Mutex()
{
    pthread_mutex_destroy(static_cast<pthread_mutex_t *>(impl_));
    delete static_cast<pthread_mutex_t *>(impl_);
}

void Mutex::Lock() { pthread_mutex_lock(static_cast<pthread_mutex_t *>(impl_)); }
void Mutex::Unlock() { pthread_mutex_unlock(static_cast<pthread_mutex_t *>(impl_)); }

// Waits are measured on the monotonic clock where the system lets a
// condition use it, so setting the date does not stretch them.
#if defined(__linux__)
constexpr clockid_t kWaitClock = CLOCK_MONOTONIC;
#else
constexpr clockid_t kWaitClock = CLOCK_REALTIME;
#endif

CondVar::CondVar() : impl_(new pthread_cond_t)
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
#if defined(__linux__)
    pthread_condattr_setclock(&attr, kWaitClock);
#endif
    pthread_cond_init(static_cast<pthread_cond_t *>(impl_), &attr);
    pthread_condattr_destroy(&attr);
}

CondVar::~CondVar()
{
    pthread_cond_destroy(static_cast<pthread_cond_t *>(impl_));
    delete static_cast<pthread_cond_t *>(impl_);
}

void CondVar::Wait(Mutex &held, int millis)
{
    timespec until{};
    clock_gettime(kWaitClock, &until);
    until.tv_sec += millis / 1000;
    until.tv_nsec += static_cast<long>(millis % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    pthread_cond_timedwait(static_cast<pthread_cond_t *>(impl_), static_cast<pthread_mutex_t *>(held.impl_), &until);
}

void CondVar::WakeAll() { pthread_cond_broadcast(static_cast<pthread_cond_t *>(impl_)); }

}  // namespace tranpak::os
