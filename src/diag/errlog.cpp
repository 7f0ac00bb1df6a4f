#include "diag/errlog.h"

#include "diag/mask.h"
#include "os/os.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tranpak {
namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The message is formatted with room for a card number's digits beyond
// the cut: a run the cut splits is masked whole before the cut, so the
// first digits of a number never stay in clear ahead of it.
constexpr int kFormatSize = kErrMesgSize + kCardRunMax;

// The message as it goes into the log, control bytes as \xHH. A final line
// feed is kept only when the format itself ends in one: a line feed that
// came in through an argument is escaped like any other. Returns the length.
int Escape(const char *format, const char *text, int len, char out[kErrLineSize])
{
    static const char kHex[] = "0123456789ABCDEF";
    size_t formatLen = std::strlen(format);
    bool endsInLineFeed = len > 0 && text[len - 1] == '\n' && formatLen > 0 && format[formatLen - 1] == '\n';
    int body = endsInLineFeed ? len - 1 : len;
    int n = 0;
    for (int i = 0; i < body; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (NeedsEscape(c)) {
            out[n++] = '\\';
            out[n++] = 'x';
            out[n++] = kHex[c >> 4];
            out[n++] = kHex[c & 0x0F];
        } else {
            out[n++] = static_cast<char>(c);
        }
    }
    if (endsInLineFeed)
        out[n++] = '\n';
    out[n] = '\0';
    return n;
}

}  // namespace

ExportedCall::ExportedCall(LastErr &last) : last_(last)
{
    if (last_.depth++ == 0) {
        last_.category = 0;
        last_.text[0] = '\0';
        last_.field = -1;
        last_.offset = -1;
    }
}

ExportedCall::~ExportedCall() { --last_.depth; }

void FormatStamp(const std::tm &when, char out[kStampSize])
{
    // Each value is brought into its width so the stamp always fits.
    std::snprintf(out, kStampSize, "%04u-%02u-%02u %02u:%02u:%02u", static_cast<unsigned>(when.tm_year + 1900) % 10000u,
                  static_cast<unsigned>(when.tm_mon + 1) % 100u, static_cast<unsigned>(when.tm_mday) % 100u,
                  static_cast<unsigned>(when.tm_hour) % 100u, static_cast<unsigned>(when.tm_min) % 100u,
                  static_cast<unsigned>(when.tm_sec) % 100u);
}

int WriteErrLog(const ErrSink &sink, ErrCategory category, const char *format, ...)
{
    char text[kFormatSize];
    va_list args;
    va_start(args, format);
    int len = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (len < 0)
        len = 0;
    if (len > static_cast<int>(sizeof text) - 1)
        len = static_cast<int>(sizeof text) - 1;
    MaskDigitRuns(text, len);
    if (len > kErrMesgSize - 1)
        len = kErrMesgSize - 1;
    char line[kErrLineSize];
    int lineLen = Escape(format, text, len, line);

    if (sink.last != nullptr && sink.last->category == 0) {
        sink.last->category = category;
        std::memcpy(sink.last->text, line, static_cast<size_t>(lineLen) + 1);
        sink.last->field = sink.field;
        sink.last->offset = sink.offset;
    }

    std::tm local{};
    char stamp[kStampSize] = {};
    if (os::LocalTime(std::time(nullptr), &local) == 0)
        FormatStamp(local, stamp);
    char record[kErrRecordSize];
    int n = std::snprintf(record, sizeof record, "[%s] ", stamp);
    std::memcpy(record + n, line, static_cast<size_t>(lineLen));
    n += lineLen;
    record[n++] = '\n';
    return os::AppendText(sink.file, record, n);
}

int CopyLastErr(const LastErr &last, char *text, int size)
{
    if (text != nullptr && size > 0) {
        // The line feed some formats end in is not part of the reason.
        size_t n = std::strcspn(last.text, "\n");
        if (n > static_cast<size_t>(size - 1))
            n = static_cast<size_t>(size - 1);
        std::memcpy(text, last.text, n);
        text[n] = '\0';
    }
    return last.category;
}

int CopyLastError(const LastErr &last, TpError &err)
{
    err.category = last.category;
    err.field = last.category == 0 ? -1 : last.field;
    err.offset = last.category == 0 ? -1 : last.offset;
    return CopyLastErr(last, err.text, static_cast<int>(sizeof err.text));
}

}  // namespace tranpak
