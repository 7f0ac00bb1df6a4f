// The state a served directory and a pending store keep on Windows.
#ifndef TRANPAK_OS_WIN32_SERVED_DIR_WIN32_H
#define TRANPAK_OS_WIN32_SERVED_DIR_WIN32_H

#ifndef _WIN32_WINNT
#  define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleA
#endif
#include "os/os_programs.h"

#include <windows.h>

#include <cstddef>

namespace tranpak::os {

// Room for a full path below the served directory, the closing NUL
// included: the served directory's final path as the system gives it, and
// every path built from it (the file, its temporary, the directories on
// the way). A longer one is refused as kPathTooLong, never cut.
inline constexpr size_t kPathRoom = MAX_PATH * 4;

// The directories held on the way to a file, from the top down.
struct Way {
    HANDLE held[kMostHeldDirectories];
    int count = 0;
};

struct ServedDir::Impl {
    HANDLE root = INVALID_HANDLE_VALUE;
    char path[kPathRoom] = {};  // the served directory's final path, '/' between components
};

struct PendingStore::Impl {
    Way way;
    char temporary[kPathRoom] = {};  // full paths; temporary "" once committed
    char target[kPathRoom] = {};
};

}  // namespace tranpak::os

#endif
