// Local files of a transfer with a time limit on Windows. Opening a named
// pipe never waits (with no instance free it fails at once), and a pipe
// tells how many bytes wait in it, so reading one waits no longer than
// given; a disk file is always ready. Whether a pipe takes bytes cannot be
// asked, so a write to a pipe nobody reads may still wait, as before.
#include "os/os.h"

#include <windows.h>

#include <io.h>

namespace tranpak::os {
namespace {

// How often a pipe is asked whether bytes have come.
constexpr DWORD kPipePollMillis = 10;

HANDLE HandleOf(std::FILE *f) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))); }

}  // namespace

std::FILE *OpenNoWait(const char *path, bool forWrite) { return std::fopen(path, forWrite ? "w+b" : "rb"); }

int FileWait(std::FILE *f, bool forWrite, int millis)
{
    HANDLE h = HandleOf(f);
    if (forWrite || GetFileType(h) != FILE_TYPE_PIPE)
        return 1;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD waiting = 0;
        // A broken pipe is "ready": the read finds its end.
        if (!PeekNamedPipe(h, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0)
            return 1;
        const DWORD spent = GetTickCount() - start;
        if (millis <= 0 || spent >= static_cast<DWORD>(millis))
            return 0;
        const DWORD left = static_cast<DWORD>(millis) - spent;
        Sleep(left < kPipePollMillis ? left : kPipePollMillis);
    }
}

int FileReadNow(std::FILE *f, void *bytes, int count)
{
    int n = _read(_fileno(f), bytes, static_cast<unsigned>(count));
    return n < 0 ? -1 : n;
}

int FileWriteNow(std::FILE *f, const void *bytes, int count)
{
    int n = _write(_fileno(f), bytes, static_cast<unsigned>(count));
    if (n < 0)
        return -1;
    return n == 0 ? kNotNow : n;
}

}  // namespace tranpak::os
