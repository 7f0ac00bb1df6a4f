// Local files for the fetch functions, on Windows.
#include "platform/platform.h"

#include <windows.h>

#include <cstring>
#include <fcntl.h>
#include <io.h>

namespace tranpak::plat {

PathKind LocalPathKind(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kPathAbsent;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return kPathOther;
    // Device names such as NUL or COM1 have attributes but are no disk files.
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return kPathRegular;
    DWORD type = GetFileType(h);
    CloseHandle(h);
    return type == FILE_TYPE_DISK ? kPathRegular : kPathOther;
}

int FollowLinks(const char *path, char *out, int size)
{
    size_t len = std::strlen(path);
    if (size <= 0 || len > static_cast<size_t>(size - 1))
        return -1;
    std::memcpy(out, path, len + 1);
    return 0;
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

}  // namespace tranpak::plat
