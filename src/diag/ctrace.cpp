#include "diag/ctrace.h"

#include "os/os.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace tranpak {

static_assert(kTraceBlockSize <= os::kAppendTextMax, "a trace block must go in one append");

int FormatTraceLine(const unsigned char *bytes, int count, int offset, char line[kTraceLineSize])
{
    static const char kHex[] = "0123456789ABCDEF";
    int n = std::snprintf(line, kTraceLineSize, "%04d :", offset % 10000);
    for (int j = 0; j < kTraceBytesPerLine; ++j) {
        if (offset + j < count) {
            unsigned char c = bytes[offset + j];
            line[n++] = (j % 4 == 0) ? ' ' : '-';
            line[n++] = kHex[c >> 4];
            line[n++] = kHex[c & 0x0F];
        } else {
            line[n++] = ' ';
            line[n++] = ' ';
            line[n++] = ' ';
        }
    }
    std::memcpy(line + n, " || ", 4);
    n += 4;
    for (int j = 0; j < kTraceBytesPerLine; ++j) {
        if (offset + j < count) {
            unsigned char c = bytes[offset + j];
            line[n++] = (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '.';
        } else {
            line[n++] = ' ';
        }
    }
    line[n++] = '\n';
    line[n] = '\0';
    return n;
}

void WriteComTrace(const char *path, const char *label, const void *bytes, int count)
{
    std::tm when{};
    os::LocalTime(std::time(nullptr), &when);

    char block[kTraceBlockSize];
    int n = std::snprintf(block, kTraceHeadSize, "\n{%02d-%02d %02d:%02d:%02d %.40s} [len = %03d]\n", when.tm_mon + 1,
                          when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec, label, count);
    if (n < 0 || n >= kTraceHeadSize)
        return;
    const auto *data = static_cast<const unsigned char *>(bytes);
    for (int offset = 0; offset < count; offset += kTraceBytesPerLine) {
        if (n > kTraceBlockSize - kTraceLineSize) {
            // Only a dump longer than any frame gets here.
            if (os::AppendText(path, block, n) != 0)
                return;
            n = 0;
        }
        char line[kTraceLineSize];
        int len = FormatTraceLine(data, count, offset, line);
        std::memcpy(block + n, line, static_cast<size_t>(len));
        n += len;
    }
    block[n++] = '\n';
    os::AppendText(path, block, n);
}

}  // namespace tranpak
