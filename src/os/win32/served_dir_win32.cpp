// Files below a served directory on Windows, and the descriptor calls that
// go with them: see ServedDir in os_programs.h for how a path is kept from
// leading outside.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleA
#endif
#include "os/os_programs.h"
#include "os/win32/system_text_win32.h"

#include <windows.h>

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <vector>

namespace tranpak::os {

bool WriteBytes(int fd, const void *bytes, int count)
{
    const char *p = static_cast<const char *>(bytes);
    while (count > 0) {
        int n = _write(fd, p, static_cast<unsigned>(count));
        if (n <= 0)
            return false;
        p += n;
        count -= n;
    }
    return true;
}

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

HANDLE OpenHeldDirectory(const std::string &path, bool followReparsePoint)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followReparsePoint ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kHeldShare, nullptr, OPEN_EXISTING, flags, nullptr);
}

DWORD AttributesOf(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

Refused SystemRefusal(DWORD error, std::string *detail)
{
    *detail = SystemText(error);
    return Refused::kSystem;
}

// What the entry at path itself is, when opening it failed with error.
Refused EntryRefusal(const std::string &path, DWORD error, std::string *detail)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return IsMissing(error) ? Refused::kMissing : SystemRefusal(error, detail);
    if (IsLinkAttribute(a))
        return Refused::kLink;
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Refused::kDirectory : SystemRefusal(error, detail);
}

// What stands in the way of a store to path: nothing when it is missing or
// a plain file.
Refused TargetRefusal(const std::string &path, std::string *detail)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return IsMissing(error) ? Refused::kNone : SystemRefusal(error, detail);
    }
    if (IsLinkAttribute(a))
        return Refused::kLink;
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Refused::kDirectory : Refused::kNone;
}

void Release(std::vector<HANDLE> *way)
{
    for (HANDLE h : *way)
        CloseHandle(h);
    way->clear();
}

// Holds every directory of parent (a relative path, "" for root itself)
// from the top down; on a refusal holds none.
bool HoldWay(const std::string &root, const std::string &parent, std::vector<HANDLE> *way, Refused *refused,
             std::string *detail)
{
    std::string path = root;
    size_t start = 0;
    while (start < parent.size()) {
        size_t slash = parent.find('/', start);
        if (slash == std::string::npos)
            slash = parent.size();
        path += "/" + parent.substr(start, slash - start);
        start = slash + 1;
        HANDLE h = OpenHeldDirectory(path, false);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            *refused = IsMissing(error) ? Refused::kMissingOnTheWay : SystemRefusal(error, detail);
            Release(way);
            return false;
        }
        way->push_back(h);
        const DWORD a = AttributesOf(h);
        if (a != INVALID_FILE_ATTRIBUTES && !IsLinkAttribute(a) && (a & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        *refused = a == INVALID_FILE_ATTRIBUTES ? SystemRefusal(GetLastError(), detail)
                   : IsLinkAttribute(a)         ? Refused::kLink
                                                : Refused::kNotDirectoryOnTheWay;
        Release(way);
        return false;
    }
    return true;
}

std::string ParentOf(const std::string &relative)
{
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? "" : relative.substr(0, slash);
}

}  // namespace

struct ServedDir::Impl {
    HANDLE root = INVALID_HANDLE_VALUE;
    std::string path;  // the served directory's final path, '/' between components
};

struct PendingStore::Impl {
    std::vector<HANDLE> way;
    std::string temporary, target;  // full paths
};

ServedDir::ServedDir() : impl_(new Impl) {}

ServedDir::~ServedDir()
{
    if (impl_->root != INVALID_HANDLE_VALUE)
        CloseHandle(impl_->root);
    delete impl_;
}

bool ServedDir::Open(const std::string &path, Lookup)
{
    HANDLE h = OpenHeldDirectory(path, true);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buf[MAX_PATH * 4];
    const DWORD n = GetFinalPathNameByHandleA(h, buf, sizeof buf, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const DWORD a = AttributesOf(h);
    if (n == 0 || n >= sizeof buf || a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(h);
        return false;
    }
    std::string s(buf, n);
    if (s.rfind("\\\\?\\", 0) == 0)
        s.erase(0, 4);
    for (char &c : s)
        if (c == '\\')
            c = '/';
    if (impl_->root != INVALID_HANDLE_VALUE)
        CloseHandle(impl_->root);
    impl_->root = h;
    impl_->path = s;
    return true;
}

bool ServedDir::FollowsLinksInside() const { return false; }

int ServedDir::OpenForRead(const std::string &relative, Refused *refused, std::string *detail) const
{
    std::vector<HANDLE> way;
    if (!HoldWay(impl_->path, ParentOf(relative), &way, refused, detail))
        return -1;
    const std::string path = impl_->path + "/" + relative;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        *refused = EntryRefusal(path, GetLastError(), detail);
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
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        *refused = SystemRefusal(GetLastError(), detail);
        CloseHandle(h);
        return -1;
    }
    *refused = Refused::kNone;
    return fd;
}

bool ServedDir::StoreBegin(const std::string &relative, PendingStore *store, Refused *refused,
                           std::string *detail) const
{
    static std::atomic<long> temporaries{0};
    std::vector<HANDLE> way;
    if (!HoldWay(impl_->path, ParentOf(relative), &way, refused, detail))
        return false;
    const std::string target = impl_->path + "/" + relative;
    *refused = TargetRefusal(target, detail);
    if (*refused != Refused::kNone) {
        Release(&way);
        return false;
    }
    // Short and of its own form whatever the target's name, so that a
    // path near the system's limit still leaves room for it.
    const std::string parent = ParentOf(relative);
    const std::string temporary = impl_->path + "/" + (parent.empty() ? "" : parent + "/") + ".tranpak-" +
                                  std::to_string(ProcessId()) + "-" + std::to_string(++temporaries) + ".tmp";
    HANDLE h = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const int fd = h == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        *refused = SystemRefusal(GetLastError(), detail);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            DeleteFileA(temporary.c_str());
        }
        Release(&way);
        return false;
    }
    store->Abandon();
    store->impl_ = new PendingStore::Impl{way, temporary, target};
    store->fd_ = fd;
    return true;
}

bool PendingStore::Commit()
{
    if (impl_ == nullptr || fd_ >= 0 || impl_->temporary.empty())
        return false;
    if (MoveFileExA(impl_->temporary.c_str(), impl_->target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
        0)
        return false;
    impl_->temporary.clear();
    return true;
}

void PendingStore::Abandon()
{
    if (impl_ == nullptr)
        return;
    if (fd_ >= 0)
        _close(fd_);
    fd_ = -1;
    if (!impl_->temporary.empty())
        DeleteFileA(impl_->temporary.c_str());
    Release(&impl_->way);
    delete impl_;
    impl_ = nullptr;
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

// The system lists no process's open files to it; a file another process
// holds and one this process holds look alike from outside.
int HeldOpenHere(const std::string &) { return -1; }

}  // namespace tranpak::os
