#include "diag/ctrace.h"

#include "core/mesg_state.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace tranpak {

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

void WriteComTrace(const char *label, const void *bytes, int count)
{
    std::time_t now = std::time(nullptr);
    std::tm when{};
    if (const std::tm *local = std::localtime(&now))
        when = *local;

    std::FILE *f = std::fopen(g_mesg.settings.ctracefile, "at+");
    if (f == nullptr)
        return;
    std::fprintf(f, "\n{%02d-%02d %02d:%02d:%02d %s} [len = %03d]\n", when.tm_mon + 1, when.tm_mday,
                 when.tm_hour, when.tm_min, when.tm_sec, label, count);
    static char line[kTraceLineSize];
    const auto *data = static_cast<const unsigned char *>(bytes);
    for (int offset = 0; offset < count; offset += kTraceBytesPerLine) {
        int len = FormatTraceLine(data, count, offset, line);
        std::fwrite(line, 1, static_cast<size_t>(len), f);
    }
    std::fputc('\n', f);
    std::fclose(f);
}

}  // namespace tranpak
