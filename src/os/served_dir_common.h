// What the served directory's common logic (served_dir_common.cpp) asks of
// each platform's served-directory file: the state a served directory and
// a pending store keep (each platform's ServedDir::Impl and
// PendingStore::Impl, in its own header), and the system calls that find,
// make, move and remove a store's files.
#ifndef TRANPAK_OS_SERVED_DIR_COMMON_H
#define TRANPAK_OS_SERVED_DIR_COMMON_H

#include "os/os_programs.h"

#if defined(_WIN32)
#  include "os/win32/served_dir_win32.h"
#else
#  include "os/posix/served_dir_posix.h"
#endif

namespace tranpak::os {

// The detail of a kSystem refusal of the layer's own (kPathTooLong,
// kPathTooDeep), into the caller's buffer when it is given.
Refused SystemDetail(const char *text, char *detail, int size);

// Where a store to relative (below dir) goes: the directory it is made in,
// held in place, and the target it is to replace there, checked to be
// missing or a regular file. False with *refused (and, for kSystem, the
// detail) and nothing held otherwise.
bool FindStorePlace(const ServedDir::Impl &dir, const char *relative, PendingStore::Impl &place, Refused *refused,
                    char *detail, int detailSize);
// Creates the store's temporary file in place, named for this process and
// count, unique across threads and processes: its descriptor (open for
// writing), or -1 with *refused (and the detail). The place stays held
// either way.
int CreateTemporary(const ServedDir::Impl &dir, const char *relative, PendingStore::Impl &place, long count,
                    Refused *refused, char *detail, int detailSize);
// Puts the temporary file in place of the target in one step: false when
// the system refuses (both then stay as they were).
bool PutTemporaryInPlace(PendingStore::Impl &place);
// Removes the temporary file.
void RemoveTemporary(PendingStore::Impl &place);
// Lets go of what the place holds.
void ReleasePlace(PendingStore::Impl &place);

// One write to a descriptor: the bytes written, 0 or less on an error.
int WriteSome(int fd, const void *bytes, int count);

}  // namespace tranpak::os

#endif
