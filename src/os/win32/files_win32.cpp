// Local files on Windows: the files a transfer reads or writes, and the
// settings and definition files.
#include "os/os.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace tranpak::os {
namespace {

// A handle on an existing path for looking at it, or for writing when
// access says so; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenExisting(const char *path, DWORD access)
{
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

PathKind LocalPathKind(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kPathAbsent;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return kPathDirectory;
    // Device names such as NUL or COM1 have attributes but are no disk files.
    HANDLE h = OpenExisting(path, 0);
    if (h == INVALID_HANDLE_VALUE)
        return kPathRegular;
    DWORD type = GetFileType(h);
    CloseHandle(h);
    return type == FILE_TYPE_DISK ? kPathRegular : kPathOther;
}

int ProbeReadable(const char *path, int *error)
{
    int fd = _open(path, _O_RDONLY | _O_BINARY);
    if (fd >= 0) {
        _close(fd);
        return 1;
    }
    *error = errno;
    return errno == ENOENT ? 0 : -1;
}

int LineFileOpen(LineFile &f, const char *path)
{
    f.pos = f.end = 0;
    f.fd = -1;
    if (LocalPathKind(path) != kPathRegular)
        return -1;
    // Text mode: the C runtime reads CR LF as LF, as fopen's "r" does.
    f.fd = _open(path, _O_RDONLY | _O_TEXT);
    if (f.fd < 0)
        return -1;
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(f.fd))) != FILE_TYPE_DISK) {
        _close(f.fd);
        f.fd = -1;
        return -1;
    }
    return 0;
}

int ReadBytes(int fd, void *bytes, int count) { return _read(fd, bytes, static_cast<unsigned>(count)); }

void CloseFile(int fd) { _close(fd); }

int CanWriteFile(const char *path)
{
    HANDLE h = OpenExisting(path, GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(h);
    return 1;
}

int FollowLinks(const char *path, char *out, int size)
{
    size_t len = std::strlen(path);
    if (size <= 0 || len > static_cast<size_t>(size - 1))
        return -1;
    std::memcpy(out, path, len + 1);
    return 0;
}

int FolderPartLength(const char *path)
{
    int folder = 0;
    for (int i = 0; path[i] != '\0'; ++i)
        if (path[i] == '/' || path[i] == '\\' || path[i] == ':')
            folder = i + 1;
    return folder;
}

std::FILE *CreateNewFile(const char *path, const char *)
{
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE *f = _fdopen(fd, "wb");
    if (f == nullptr)
        _close(fd);
    return f;
}

int PutInPlace(const char *from, const char *to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}

int NameFits(const char *path)
{
    // NTFS, FAT and exFAT all take names of up to 255 UTF-16 units.
    constexpr int kNameUnitsMax = 255;
    const char *name = path + FolderPartLength(path);
    const int units = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    if (units <= 0)
        return 1;  // not convertible: creating the file tells
    return units - 1 <= kNameUnitsMax ? 1 : 0;
}

const char *ErrorText(int error, char *out, int size)
{
    if (size <= 0)
        return out;
    if (strerror_s(out, static_cast<size_t>(size), error) != 0)
        std::snprintf(out, static_cast<size_t>(size), "error %d", error);
    return out;
}

}  // namespace tranpak::os
