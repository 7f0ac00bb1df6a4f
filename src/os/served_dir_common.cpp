// A served directory and its pending stores: the logic that is the same on
// every platform (the room their state lives in, a store's life from its
// temporary file to its commit or abandon). Each platform's file (posix/,
// win32/) opens the directory and looks paths up below it, and gives the
// system calls a store stands on (served_dir_common.h).
#include "os/served_dir_common.h"

#include <atomic>
#include <cstdio>
#include <new>
#include <type_traits>

namespace tranpak::os {

static_assert(sizeof(ServedDir::Impl) <= ServedDir::kImplSize && alignof(ServedDir::Impl) <= 8,
              "ServedDir::Impl fits its room");
static_assert(sizeof(PendingStore::Impl) <= PendingStore::kImplSize && alignof(PendingStore::Impl) <= 8,
              "PendingStore::Impl fits its room");
static_assert(std::is_trivially_destructible_v<ServedDir::Impl> && std::is_trivially_destructible_v<PendingStore::Impl>,
              "nothing to destroy but what Abandon and ~ServedDir close");

bool WriteBytes(int fd, const void *bytes, int count)
{
    const char *p = static_cast<const char *>(bytes);
    while (count > 0) {
        const int n = WriteSome(fd, p, count);
        if (n <= 0)
            return false;
        p += n;
        count -= n;
    }
    return true;
}

Refused SystemDetail(const char *text, char *detail, int size)
{
    if (detail != nullptr && size > 0)
        std::snprintf(detail, static_cast<size_t>(size), "%s", text);
    return Refused::kSystem;
}

ServedDir::ServedDir() { ::new (static_cast<void *>(impl_)) Impl{}; }

ServedDir::Impl &ServedDir::State() const
{
    return *std::launder(reinterpret_cast<Impl *>(const_cast<unsigned char *>(impl_)));
}

bool ServedDir::StoreBegin(const char *relative, PendingStore *store, Refused *refused, char *detail,
                           int detailSize) const
{
    static std::atomic<long> temporaries{0};
    const Impl &dir = State();
    PendingStore::Impl place{};
    if (!FindStorePlace(dir, relative, place, refused, detail, detailSize))
        return false;
    const int fd = CreateTemporary(dir, relative, place, ++temporaries, refused, detail, detailSize);
    if (fd < 0) {
        ReleasePlace(place);
        return false;
    }
    store->Abandon();
    ::new (static_cast<void *>(store->impl_)) PendingStore::Impl(place);
    store->pending_ = true;
    store->fd_ = fd;
    *refused = Refused::kNone;
    return true;
}

PendingStore::PendingStore() = default;

PendingStore::~PendingStore() { Abandon(); }

PendingStore::Impl &PendingStore::State() const
{
    return *std::launder(reinterpret_cast<Impl *>(const_cast<unsigned char *>(impl_)));
}

bool PendingStore::Commit()
{
    if (!pending_ || fd_ >= 0 || State().temporary[0] == '\0')
        return false;
    Impl &pending = State();
    if (!PutTemporaryInPlace(pending))
        return false;
    pending.temporary[0] = '\0';
    return true;
}

void PendingStore::Abandon()
{
    if (!pending_)
        return;
    Impl &pending = State();
    if (fd_ >= 0)
        CloseFile(fd_);
    fd_ = -1;
    if (pending.temporary[0] != '\0')
        RemoveTemporary(pending);
    ReleasePlace(pending);
    pending_ = false;
}

}  // namespace tranpak::os
