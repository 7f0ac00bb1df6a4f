// Appending whole texts to the error log and the trace on Windows: a
// handle opened for FILE_APPEND_DATA (and no FILE_WRITE_DATA) writes at the
// end of the file. Not every implementation finds the end and writes there
// in one step (Wine does not), so appenders also take turns on a lock of
// one byte far beyond any real end of file: texts of threads and processes
// never overwrite or interleave. Line feeds become CR LF, as the C
// runtime's text mode wrote them before.
#include "os/os.h"

#include <windows.h>

namespace tranpak::os {

int AppendText(const char *path, const char *text, int count)
{
    // Read access too: a byte-range lock needs read or write data access.
    HANDLE h =
        CreateFileA(path, FILE_APPEND_DATA | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    // Every byte may grow to two.
    char crlf[2 * kAppendTextMax];
    OVERLAPPED turn{};
    turn.Offset = 0xFFFFFFFFu;
    turn.OffsetHigh = 0x7FFFFFFFu;
    // A text is still written when the lock cannot be had (a file system
    // without locks); only the turn-taking is lost then.
    const bool locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
    int rc = 0;
    int at = 0;
    while (at < count) {
        int n = 0;
        for (const int start = at; at < count && at - start < kAppendTextMax; ++at) {
            if (text[at] == '\n')
                crlf[n++] = '\r';
            crlf[n++] = text[at];
        }
        DWORD written = 0;
        if (!WriteFile(h, crlf, static_cast<DWORD>(n), &written, nullptr) || written != static_cast<DWORD>(n)) {
            rc = -1;
            break;
        }
    }
    if (locked)
        UnlockFileEx(h, 0, 1, 0, &turn);
    CloseHandle(h);
    return rc;
}

}  // namespace tranpak::os
