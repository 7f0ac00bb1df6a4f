#include "diag/errlog.h"

#include "core/mesg_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tranpak {
namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Writes the message bytes, control bytes as \xHH. A final line feed is
// kept only when the format itself ends in one: a line feed that came in
// through an argument is escaped like any other.
void WriteEscaped(std::FILE *f, const char *format, const char *text, int len)
{
    static const char kHex[] = "0123456789ABCDEF";
    size_t formatLen = std::strlen(format);
    bool endsInLineFeed = len > 0 && text[len - 1] == '\n' && formatLen > 0 && format[formatLen - 1] == '\n';
    int body = endsInLineFeed ? len - 1 : len;
    for (int i = 0; i < body; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (NeedsEscape(c)) {
            char esc[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 0x0F]};
            std::fwrite(esc, 1, sizeof esc, f);
        } else {
            std::fputc(c, f);
        }
    }
    if (endsInLineFeed)
        std::fputc('\n', f);
}

}  // namespace

void FormatStamp(const std::tm &when, char out[kStampSize])
{
    // Each value is brought into its width so the stamp always fits.
    std::snprintf(out, kStampSize, "%04u-%02u-%02u %02u:%02u:%02u", static_cast<unsigned>(when.tm_year + 1900) % 10000u,
                  static_cast<unsigned>(when.tm_mon + 1) % 100u, static_cast<unsigned>(when.tm_mday) % 100u,
                  static_cast<unsigned>(when.tm_hour) % 100u, static_cast<unsigned>(when.tm_min) % 100u,
                  static_cast<unsigned>(when.tm_sec) % 100u);
}

int WriteErrLog(const char *format, ...)
{
    std::FILE *f = std::fopen(g_mesg.settings.errfile, "a");
    if (f == nullptr)
        return -1;

    static char text[kErrMesgSize];
    va_list args;
    va_start(args, format);
    int len = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (len < 0)
        len = 0;
    if (len > kErrMesgSize - 1)
        len = kErrMesgSize - 1;

    static char stamp[kStampSize];
    std::time_t now = std::time(nullptr);
    const std::tm *local = std::localtime(&now);
    if (local != nullptr)
        FormatStamp(*local, stamp);

    std::fprintf(f, "[%s] ", stamp);
    WriteEscaped(f, format, text, len);
    std::fputc('\n', f);
    std::fclose(f);
    return 0;
}

}  // namespace tranpak
