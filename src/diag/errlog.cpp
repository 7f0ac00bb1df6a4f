#include "diag/errlog.h"

#include "diag/mask.h"
#include "os/os.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tranpak {
namespace {

// Bytes at p (left of them) that go into a line as they are: one
// character of 0x20 to 0x7E, or one whole UTF-8 character from U+00A0 up
// (text in a name or a path, "caf\xC3\xA9"). 0 for a byte that is
// escaped: a control byte, 0x7F, a byte of no valid UTF-8 character, and
// the C1 controls U+0080 to U+009F, which a terminal obeys (C2 9B is CSI).
int KeptBytes(const unsigned char *p, int left)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return c < 0x20 || c == 0x7F ? 0 : 1;
    int more;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        more = 1;
        cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        more = 2;
        cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        more = 3;
        cp = c & 0x07u;
    } else {
        return 0;
    }
    if (more >= left)
        return 0;
    for (int k = 1; k <= more; ++k) {
        if ((p[k] & 0xC0u) != 0x80u)
            return 0;
        cp = (cp << 6) | (p[k] & 0x3Fu);
    }
    static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0xA0)
        return 0;
    return more + 1;
}

// The message is formatted with room for a card number's digits beyond
// the cut: a number the cut splits is masked whole before the cut, so the
// first digits of a number never stay in clear ahead of it.
constexpr int kFormatSize = kErrMesgSize + kCardSpanMax;
// The prefix every message starts with, which the detail drops.
constexpr char kPrefix[] = "tranpak: ";

// len bytes of text into out as a line shows them: what KeptBytes keeps as
// it is, every other byte as \xHH; a character or \xHH that would pass
// room bytes is left out with all after it. Returns the bytes written.
int PutShown(const char *text, int len, char *out, int room)
{
    static const char kHex[] = "0123456789ABCDEF";
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    int n = 0;
    for (int i = 0; i < len;) {
        const int kept = KeptBytes(bytes + i, len - i);
        if (n + (kept > 0 ? kept : 4) > room)
            break;
        if (kept > 0) {
            std::memcpy(out + n, bytes + i, static_cast<size_t>(kept));
            n += kept;
            i += kept;
            continue;
        }
        const unsigned char c = bytes[i++];
        out[n++] = '\\';
        out[n++] = 'x';
        out[n++] = kHex[c >> 4];
        out[n++] = kHex[c & 0x0F];
    }
    return n;
}

// The message as it goes into the log (PutShown). A final line feed is
// kept only when the format itself ends in one: a line feed that came in
// through an argument is escaped like any other. Returns the length.
int Escape(const char *format, const char *text, int len, char out[kErrLineSize])
{
    size_t formatLen = std::strlen(format);
    bool endsInLineFeed = len > 0 && text[len - 1] == '\n' && formatLen > 0 && format[formatLen - 1] == '\n';
    // Every byte fits as \xHH: kErrLineSize has room for it.
    int n = PutShown(text, endsInLineFeed ? len - 1 : len, out, kErrLineSize - 2);
    if (endsInLineFeed)
        out[n++] = '\n';
    out[n] = '\0';
    return n;
}

// The detail as the record keeps it: masked, then as PutShown shows it,
// cut after 255 characters (never inside an \xHH or a character).
void KeepDetail(const char *detail, char out[kErrDetailSize])
{
    char text[kErrDetailSize + kCardSpanMax];
    int len = static_cast<int>(std::strlen(detail));
    if (len > static_cast<int>(sizeof text) - 1)
        len = static_cast<int>(sizeof text) - 1;
    std::memcpy(text, detail, static_cast<size_t>(len));
    text[len] = '\0';
    MaskDigitRuns(text, len);
    if (len > kErrDetailSize - 1)
        len = kErrDetailSize - 1;
    out[PutShown(text, len, out, kErrDetailSize - 1)] = '\0';
}

// The message as a detail when the failure gave none: without the prefix
// and the line feed some formats end in, cut to fit.
void DetailOfLine(const char *line, char out[kErrDetailSize])
{
    const size_t prefixLen = sizeof kPrefix - 1;
    if (std::strncmp(line, kPrefix, prefixLen) == 0)
        line += prefixLen;
    size_t n = std::strcspn(line, "\n");
    if (n > static_cast<size_t>(kErrDetailSize - 1))
        n = static_cast<size_t>(kErrDetailSize - 1);
    // An \xHH the cut would split goes whole.
    for (size_t back = 1; back < 4 && back <= n; ++back)
        if (line[n - back] == '\\' && line[n - back + 1] == 'x')
            n -= back;
    std::memcpy(out, line, n);
    out[n] = '\0';
}

}  // namespace

ErrDetail::ErrDetail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(text_, sizeof text_, format, args) < 0)
        text_[0] = '\0';
    va_end(args);
}

ExportedCall::ExportedCall(LastErr &last) : last_(last)
{
    if (last_.depth++ == 0) {
        last_.category = 0;
        last_.text[0] = '\0';
        last_.field = -1;
        last_.offset = -1;
        last_.osError = 0;
        last_.line = 0;
        last_.detail[0] = '\0';
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
        sink.last->osError = sink.osError;
        sink.last->line = sink.line;
        if (sink.detail != nullptr && sink.detail[0] != '\0')
            KeepDetail(sink.detail, sink.last->detail);
        else
            DetailOfLine(line, sink.last->detail);
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

int CopyLastError(const LastErr &last, TpError *err)
{
    static_assert(kErrorRecordMinSize == offsetof(TpError, osError), "TP_ERROR_MIN_SIZE is the record before osError");
    static_assert(sizeof(TpError::detail) == kErrDetailSize);
    if (err == nullptr || err->size < kErrorRecordMinSize)
        return -1;
    const bool failed = last.category != 0;
    err->category = last.category;
    err->field = failed ? last.field : -1;
    err->offset = failed ? last.offset : -1;
    CopyLastErr(last, err->text, static_cast<int>(sizeof err->text));
    // Each later member only when the caller's record holds it whole.
    const auto holds = [&](size_t offset, size_t size) { return offset + size <= static_cast<size_t>(err->size); };
    if (holds(offsetof(TpError, osError), sizeof err->osError))
        err->osError = failed ? last.osError : 0;
    if (holds(offsetof(TpError, line), sizeof err->line))
        err->line = failed ? last.line : 0;
    if (holds(offsetof(TpError, detail), sizeof err->detail)) {
        const char *detail = failed ? last.detail : "";
        std::memcpy(err->detail, detail, std::strlen(detail) + 1);
    }
    return last.category;
}

}  // namespace tranpak
