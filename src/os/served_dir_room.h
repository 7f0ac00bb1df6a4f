// The room a served directory and a pending store keep their state in,
// the same on every platform: each platform's served_dir_*.cpp defines
// ServedDir::Impl and PendingStore::Impl, then includes this once.
#ifndef TRANPAK_OS_SERVED_DIR_ROOM_H
#define TRANPAK_OS_SERVED_DIR_ROOM_H

#include "os/os_programs.h"

#include <new>
#include <type_traits>

namespace tranpak::os {

static_assert(sizeof(ServedDir::Impl) <= ServedDir::kImplSize && alignof(ServedDir::Impl) <= 8,
              "ServedDir::Impl fits its room");
static_assert(sizeof(PendingStore::Impl) <= PendingStore::kImplSize && alignof(PendingStore::Impl) <= 8,
              "PendingStore::Impl fits its room");
static_assert(std::is_trivially_destructible_v<ServedDir::Impl> &&
                  std::is_trivially_destructible_v<PendingStore::Impl>,
              "nothing to destroy but what Abandon and ~ServedDir close");

ServedDir::ServedDir() { ::new (static_cast<void *>(impl_)) Impl{}; }

ServedDir::Impl &ServedDir::State() const
{
    return *std::launder(reinterpret_cast<Impl *>(const_cast<unsigned char *>(impl_)));
}

PendingStore::PendingStore() = default;

PendingStore::~PendingStore() { Abandon(); }

PendingStore::Impl &PendingStore::State() const
{
    return *std::launder(reinterpret_cast<Impl *>(const_cast<unsigned char *>(impl_)));
}

}  // namespace tranpak::os

#endif
