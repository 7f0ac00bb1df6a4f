// The state a served directory and a pending store keep on POSIX systems.
#ifndef TRANPAK_OS_POSIX_SERVED_DIR_POSIX_H
#define TRANPAK_OS_POSIX_SERVED_DIR_POSIX_H

#include "os/os_programs.h"

#include <climits>
#include <cstddef>

namespace tranpak::os {

// Room for the last component's name: one the system looked up (or found
// missing) is never longer than NAME_MAX.
inline constexpr size_t kNameRoom = NAME_MAX + 1;
// Room for a temporary name: ".tranpak-" PID "-" count ".tmp".
inline constexpr size_t kTemporaryRoom = 64;

struct ServedDir::Impl {
    int fd = -1;
    bool beneath = false;
};

struct PendingStore::Impl {
    int parent = -1;
    char temporary[kTemporaryRoom] = {};  // in parent; "" once committed
    char name[kNameRoom] = {};            // in parent
};

}  // namespace tranpak::os

#endif
