// Threads, a lock and a condition on POSIX systems (pthreads), for the
// programs that serve or load many connections at once: the system calls
// (a Thread's bookkeeping is in threads_common.cpp). The system's objects
// live inside the Thread, Mutex and CondVar that own them.
#include "os/threads_common.h"

#include <pthread.h>
#include <ctime>
#include <new>

namespace tranpak::os {

static_assert(sizeof(pthread_t) <= Thread::kHandleSize && alignof(pthread_t) <= 8, "pthread_t fits a Thread");
static_assert(sizeof(pthread_mutex_t) <= kMutexSize && alignof(pthread_mutex_t) <= 8, "pthread_mutex_t fits a Mutex");
static_assert(sizeof(pthread_cond_t) <= kCondVarSize && alignof(pthread_cond_t) <= 8, "pthread_cond_t fits a CondVar");

namespace {

pthread_t *IdIn(unsigned char *storage) { return std::launder(reinterpret_cast<pthread_t *>(storage)); }
pthread_mutex_t *MutexIn(unsigned char *storage) { return std::launder(reinterpret_cast<pthread_mutex_t *>(storage)); }
pthread_cond_t *CondIn(unsigned char *storage) { return std::launder(reinterpret_cast<pthread_cond_t *>(storage)); }

}  // namespace

namespace {

void *Run(void *self)
{
    ThreadEntry::RunBody(self);
    return nullptr;
}

}  // namespace

bool ThreadEntry::Create(Thread &t)
{
    pthread_t *id = ::new (static_cast<void *>(t.handle_)) pthread_t{};
    return pthread_create(id, nullptr, Run, &t) == 0;
}

void ThreadEntry::Reap(Thread &t) { pthread_join(*IdIn(t.handle_), nullptr); }

Mutex::Mutex() { pthread_mutex_init(::new (static_cast<void *>(impl_)) pthread_mutex_t{}, nullptr); }

Mutex::~Mutex() { pthread_mutex_destroy(MutexIn(impl_)); }

void Mutex::Lock() { pthread_mutex_lock(MutexIn(impl_)); }
void Mutex::Unlock() { pthread_mutex_unlock(MutexIn(impl_)); }

// Waits are measured on the monotonic clock where the system lets a
// condition use it, so setting the date does not stretch them.
#if defined(__linux__)
constexpr clockid_t kWaitClock = CLOCK_MONOTONIC;
#else
constexpr clockid_t kWaitClock = CLOCK_REALTIME;
#endif

CondVar::CondVar()
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
#if defined(__linux__)
    pthread_condattr_setclock(&attr, kWaitClock);
#endif
    pthread_cond_init(::new (static_cast<void *>(impl_)) pthread_cond_t{}, &attr);
    pthread_condattr_destroy(&attr);
}

CondVar::~CondVar() { pthread_cond_destroy(CondIn(impl_)); }

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
    pthread_cond_timedwait(CondIn(impl_), MutexIn(held.impl_), &until);
}

void CondVar::WakeAll() { pthread_cond_broadcast(CondIn(impl_)); }

}  // namespace tranpak::os
