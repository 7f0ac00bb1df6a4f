// Files below a served directory on Windows, and the descriptor calls that
// go with them: see ServedDir in os_programs.h for how a path is kept from
// leading outside. A store's life is in served_dir_common.cpp.
#include "os/served_dir_common.h"
#include "os/win32/system_text_win32.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>

namespace tranpak::os {

int WriteSome(int fd, const void *bytes, int count) { return _write(fd, bytes, static_cast<unsigned>(count)); }

bool SyncAndClose(int fd)
{
    bool synced = _commit(fd) == 0;
    return _close(fd) == 0 && synced;
}

namespace {

bool IsLinkAttribute(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Held handles leave out FILE_SHARE_DELETE: while one is open, nobody can
// rename, move or remove the directory it names.
constexpr DWORD kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE OpenHeldDirectory(const char *path, bool followReparsePoint)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followReparsePoint ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileA(path, FILE_READ_ATTRIBUTES, kHeldShare, nullptr, OPEN_EXISTING, flags, nullptr);
}

DWORD AttributesOf(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

Refused SystemRefusal(DWORD error, char *detail, int size)
{
    SystemText(error, detail, size);
    return Refused::kSystem;
}

// What the entry at path itself is, when opening it failed with error.
Refused EntryRefusal(const char *path, DWORD error, char *detail, int size)
{
    const DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES)
        return IsMissing(error) ? Refused::kMissing : SystemRefusal(error, detail, size);
    if (IsLinkAttribute(a))
        return Refused::kLink;
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Refused::kDirectory : SystemRefusal(error, detail, size);
}

// What stands in the way of a store to path: nothing when it is missing or
// a plain file.
Refused TargetRefusal(const char *path, char *detail, int size)
{
    const DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return IsMissing(error) ? Refused::kNone : SystemRefusal(error, detail, size);
    }
    if (IsLinkAttribute(a))
        return Refused::kLink;
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Refused::kDirectory : Refused::kNone;
}

// Whether the file or directory h lies below root (or is root), by its
// final path, in any case. Links are refused by their reparse point before
// anything is opened through them; this catches what carries none, such
// as a POSIX link seen through Wine.
bool Within(const char *root, HANDLE h)
{
    char buf[kPathRoom];
    const DWORD n = GetFinalPathNameByHandleA(h, buf, sizeof buf, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof buf)
        return false;
    buf[n] = '\0';
    const char *s = std::strncmp(buf, "\\\\?\\", 4) == 0 ? buf + 4 : buf;
    size_t i = 0;
    for (; root[i] != '\0'; ++i) {
        const char c = s[i] == '\\' ? '/' : s[i];
        if (c == '\0' ||
            std::tolower(static_cast<unsigned char>(c)) != std::tolower(static_cast<unsigned char>(root[i])))
            return false;
    }
    return s[i] == '\0' || s[i] == '\\' || s[i] == '/';
}

void Release(Way *way)
{
    for (int i = 0; i < way->count; ++i)
        CloseHandle(way->held[i]);
    way->count = 0;
}

// The length of relative's directory part ("a/b" of "a/b/c"), 0 for none.
size_t ParentLength(const char *relative)
{
    const char *slash = std::strrchr(relative, '/');
    return slash == nullptr ? 0 : static_cast<size_t>(slash - relative);
}

// root "/" relative into path (kPathRoom bytes); false when it does not fit.
bool Below(const char *root, const char *relative, char *path)
{
    const int n = std::snprintf(path, kPathRoom, "%s/%s", root, relative);
    return n > 0 && static_cast<size_t>(n) < kPathRoom;
}

// Holds every directory of the first parentLength bytes of relative ("" for
// root itself) from the top down; on a refusal holds none. The caller has
// checked that root "/" relative fits kPathRoom.
bool HoldWay(const char *root, const char *relative, size_t parentLength, Way *way, Refused *refused, char *detail,
             int size)
{
    int depth = parentLength == 0 ? 0 : 1;
    for (size_t i = 0; i < parentLength; ++i)
        depth += relative[i] == '/' ? 1 : 0;
    if (depth > kMostHeldDirectories) {
        *refused = SystemDetail(kPathTooDeep, detail, size);
        return false;
    }
    char path[kPathRoom];
    size_t length = std::strlen(root);
    std::memcpy(path, root, length);
    size_t start = 0;
    while (start < parentLength) {
        const char *slash = static_cast<const char *>(std::memchr(relative + start, '/', parentLength - start));
        const size_t end = slash == nullptr ? parentLength : static_cast<size_t>(slash - relative);
        path[length++] = '/';
        std::memcpy(path + length, relative + start, end - start);
        length += end - start;
        path[length] = '\0';
        start = end + 1;
        HANDLE h = OpenHeldDirectory(path, false);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            *refused = IsMissing(error) ? Refused::kMissingOnTheWay : SystemRefusal(error, detail, size);
            Release(way);
            return false;
        }
        way->held[way->count++] = h;
        const DWORD a = AttributesOf(h);
        const bool directory = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (directory && !IsLinkAttribute(a) && Within(root, h))
            continue;
        *refused = a == INVALID_FILE_ATTRIBUTES ? SystemRefusal(GetLastError(), detail, size)
                   : IsLinkAttribute(a)         ? Refused::kLink
                   : directory                  ? Refused::kLinkOutside
                                                : Refused::kNotDirectoryOnTheWay;
        Release(way);
        return false;
    }
    return true;
}

}  // namespace

ServedDir::~ServedDir()
{
    if (State().root != INVALID_HANDLE_VALUE)
        CloseHandle(State().root);
}

bool ServedDir::Open(const char *path, Lookup)
{
    Impl &dir = State();
    HANDLE h = OpenHeldDirectory(path, true);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buf[kPathRoom];
    const DWORD n = GetFinalPathNameByHandleA(h, buf, sizeof buf, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const DWORD a = AttributesOf(h);
    if (n == 0 || n >= sizeof buf || a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(h);
        return false;
    }
    buf[n] = '\0';
    const char *s = std::strncmp(buf, "\\\\?\\", 4) == 0 ? buf + 4 : buf;
    if (dir.root != INVALID_HANDLE_VALUE)
        CloseHandle(dir.root);
    dir.root = h;
    size_t i = 0;
    for (; s[i] != '\0'; ++i)
        dir.path[i] = s[i] == '\\' ? '/' : s[i];
    dir.path[i] = '\0';
    return true;
}

bool ServedDir::FollowsLinksInside() const { return false; }

int ServedDir::OpenForRead(const char *relative, Refused *refused, char *detail, int detailSize) const
{
    const Impl &dir = State();
    char path[kPathRoom];
    if (!Below(dir.path, relative, path)) {
        *refused = SystemDetail(kPathTooLong, detail, detailSize);
        return -1;
    }
    Way way;
    if (!HoldWay(dir.path, relative, ParentLength(relative), &way, refused, detail, detailSize))
        return -1;
    HANDLE h =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        *refused = EntryRefusal(path, GetLastError(), detail, detailSize);
    Release(&way);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    const DWORD a = AttributesOf(h);
    const bool disk = GetFileType(h) == FILE_TYPE_DISK && a != INVALID_FILE_ATTRIBUTES;
    if (!disk || (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        *refused = !disk ? Refused::kNotRegular : IsLinkAttribute(a) ? Refused::kLink : Refused::kDirectory;
        CloseHandle(h);
        return -1;
    }
    if (!Within(dir.path, h)) {
        *refused = Refused::kLinkOutside;
        CloseHandle(h);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        *refused = SystemRefusal(GetLastError(), detail, detailSize);
        CloseHandle(h);
        return -1;
    }
    *refused = Refused::kNone;
    return fd;
}

bool FindStorePlace(const ServedDir::Impl &dir, const char *relative, PendingStore::Impl &place, Refused *refused,
                    char *detail, int detailSize)
{
    if (!Below(dir.path, relative, place.target)) {
        *refused = SystemDetail(kPathTooLong, detail, detailSize);
        return false;
    }
    if (!HoldWay(dir.path, relative, ParentLength(relative), &place.way, refused, detail, detailSize))
        return false;
    *refused = TargetRefusal(place.target, detail, detailSize);
    if (*refused != Refused::kNone) {
        Release(&place.way);
        return false;
    }
    return true;
}

// Short and of its own form whatever the target's name, so that a path
// near the system's limit still leaves room for it.
int CreateTemporary(const ServedDir::Impl &dir, const char *relative, PendingStore::Impl &place, long count,
                    Refused *refused, char *detail, int detailSize)
{
    const size_t parentLength = ParentLength(relative);
    const int n =
        std::snprintf(place.temporary, sizeof place.temporary, "%s/%.*s%s.tranpak-%ld-%ld.tmp", dir.path,
                      static_cast<int>(parentLength), relative, parentLength == 0 ? "" : "/", ProcessId(), count);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof place.temporary) {
        *refused = SystemDetail(kPathTooLong, detail, detailSize);
        return -1;
    }
    HANDLE h = CreateFileA(place.temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const int fd =
        h == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        *refused = SystemRefusal(GetLastError(), detail, detailSize);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            DeleteFileA(place.temporary);
        }
    }
    return fd;
}

bool PutTemporaryInPlace(PendingStore::Impl &place)
{
    return MoveFileExA(place.temporary, place.target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveTemporary(PendingStore::Impl &place) { DeleteFileA(place.temporary); }

void ReleasePlace(PendingStore::Impl &place) { Release(&place.way); }

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

// The system lists no process's open files to it; a file another process
// holds and one this process holds look alike from outside.
int HeldOpenHere(const char *) { return -1; }

}  // namespace tranpak::os
