// Appending whole texts to the error log and the trace on Windows: a
// handle opened for FILE_APPEND_DATA alone writes at the end of the file
// in one step, so appenders never interleave. Line feeds become CR LF, as
// the C runtime's text mode wrote them before.
#include "platform/platform.h"

#include <windows.h>

namespace tranpak::plat {

int AppendText(const char *path, const char *text, int count)
{
    HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    // Every byte may grow to two.
    char crlf[2 * kAppendTextMax];
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
    CloseHandle(h);
    return rc;
}

}  // namespace tranpak::plat
