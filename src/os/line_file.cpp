// Reading a text file line by line from a descriptor, into a fixed
// buffer: the part of LineFile that is the same on every platform.
#include "os/os.h"

#include <cstring>

namespace tranpak::os {

int LineFileGets(LineFile &f, char *out, int size)
{
    if (size <= 0)
        return 0;
    int n = 0;
    while (n < size - 1) {
        if (f.pos == f.end) {
            const int got = ReadBytes(f.fd, f.buf, kLineFileBufSize);
            if (got <= 0)
                break;
            f.pos = 0;
            f.end = got;
        }
        const char c = f.buf[f.pos++];
        out[n++] = c;
        if (c == '\n')
            break;
    }
    out[n] = '\0';
    return n;
}

void LineFileClose(LineFile &f)
{
    if (f.fd >= 0)
        CloseFile(f.fd);
    f.fd = -1;
    f.pos = f.end = 0;
}

}  // namespace tranpak::os
