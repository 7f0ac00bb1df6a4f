// Threads, a lock and a condition on POSIX systems (pthreads), for the
// programs that serve or load many connections at once. The system's
// objects live inside the Thread, Mutex and CondVar that own them.
#include "os/os_programs.h"

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

// The new thread reads body_ and arg_ from the Thread, which the caller
// keeps until it joins.
struct ThreadEntry {
    static void *Run(void *self)
    {
        auto *t = static_cast<Thread *>(self);
        t->body_(t->arg_);
        return nullptr;
    }
};

Thread::~Thread() { Join(); }

bool Thread::Start(void (*body)(void *arg), void *arg)
{
    if (started_ || body == nullptr)
        return false;
    body_ = body;
    arg_ = arg;
    pthread_t *id = ::new (static_cast<void *>(handle_)) pthread_t{};
    if (pthread_create(id, nullptr, ThreadEntry::Run, this) != 0)
        return false;
    started_ = true;
    return true;
}

void Thread::Join()
{
    if (!started_)
        return;
    pthread_join(*IdIn(handle_), nullptr);
    started_ = false;
}

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
