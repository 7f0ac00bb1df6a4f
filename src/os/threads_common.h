// What the threads' common logic (threads_common.cpp) asks of each
// platform's threads file: making a thread and waiting for its end.
#ifndef TRANPAK_OS_THREADS_COMMON_H
#define TRANPAK_OS_THREADS_COMMON_H

#include "os/os_programs.h"

namespace tranpak::os {

// What a started thread runs, and the system calls around it. The new
// thread reads body_ and arg_ from the Thread, which the caller keeps
// until it joins.
struct ThreadEntry {
    // Runs the body of the Thread at self, on the new thread.
    static void RunBody(void *self)
    {
        auto *t = static_cast<Thread *>(self);
        t->body_(t->arg_);
    }
    // Makes a system thread that runs RunBody(&t), its handle kept in
    // t.handle_: false when none can be made.
    static bool Create(Thread &t);
    // Waits for the system thread of t to end and lets its handle go.
    static void Reap(Thread &t);
};

}  // namespace tranpak::os

#endif
