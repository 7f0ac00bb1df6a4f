// The error log: one timestamped line per failure, appended to the file
// named by the errfile setting.
//
//   [2026-12-06 20:45:07] tranpak: ReadBMPFile() open BMPfile fail
//
// The first line of each exported call is also kept, with its category,
// in the caller's LastErr record, for GetLastErrMesg, together with what
// TpGetLastError adds: the system's error number, the definition file's
// line and a detail in plain words. The detail is kept in the record only,
// never written to the log.
#ifndef TRANPAK_DIAG_ERRLOG_H
#define TRANPAK_DIAG_ERRLOG_H

#include "diag/mask.h"
#include "tranpak.h"

#include <ctime>

namespace tranpak {

// The message text holds at most 255 characters; a longer one is cut.
inline constexpr int kErrMesgSize = 256;
// The text as written: each control byte may grow to \xHH, four bytes.
inline constexpr int kErrLineSize = 4 * (kErrMesgSize - 1) + 2;
// The detail of a failure, "what and where" in plain words, as TpError
// holds it: at most 255 characters and a NUL.
inline constexpr int kErrDetailSize = 256;
// "YYYY-MM-DD HH:MM:SS" and a NUL.
inline constexpr int kStampSize = 20;
// One whole log line: "[" stamp "] " text, line feed and NUL.
inline constexpr int kErrRecordSize = 1 + kStampSize + 2 + kErrLineSize + 2;

// Short names for the categories of the public header.
inline constexpr ErrCategory kErrSettings = TRANPAK_ERR_SETTINGS;
inline constexpr ErrCategory kErrArgument = TRANPAK_ERR_ARGUMENT;
inline constexpr ErrCategory kErrConnect = TRANPAK_ERR_CONNECT;
inline constexpr ErrCategory kErrTimeLimit = TRANPAK_ERR_TIME_LIMIT;
inline constexpr ErrCategory kErrPeerClosed = TRANPAK_ERR_PEER_CLOSED;
inline constexpr ErrCategory kErrMalformed = TRANPAK_ERR_MALFORMED;
inline constexpr ErrCategory kErrMac = TRANPAK_ERR_MAC;
inline constexpr ErrCategory kErrLocalFile = TRANPAK_ERR_LOCAL_FILE;
inline constexpr ErrCategory kErrHostRefused = TRANPAK_ERR_HOST_REFUSED;

// The first failure of the exported call in progress on one message state.
struct LastErr {
    int depth;     // nesting of exported calls in progress
    int category;  // 0 while the call has reported nothing
    char text[kErrLineSize];
    int field;                    // field number 0 to 128 the failure concerns, or -1
    int offset;                   // byte offset in the received frame where it lies, or -1
    int osError;                  // the system's error number, 0 where none
    int line;                     // the definition file's line, 0 where none
    char detail[kErrDetailSize];  // what and where, masked and escaped
};

// A detail formatted like printf, for ErrSink::Detail. Room is left beyond
// the detail's 255 characters so that a card number the cut splits is
// still seen whole when it is masked.
class ErrDetail {
public:
    explicit ErrDetail(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    const char *Text() const { return text_; }

private:
    char text_[kErrDetailSize + kCardSpanMax];
};

// Where a failure goes: the error log's path and the record of the call,
// and what the failure concerns: a field number (0 is the message type)
// and a byte offset in the received frame, -1 when none applies.
// With Detail, the failure also carries the system's error number (0 where
// none), the definition file's line (0 where none) and a detail; without
// one, the detail is the message without its "tranpak: " prefix.
struct ErrSink {
    const char *file;
    LastErr *last;
    int field = -1;
    int offset = -1;
    int osError = 0;
    int line = 0;
    const char *detail = nullptr;

    // This sink with a detail (which must outlive the WriteErrLog call it
    // is handed to: a temporary of the same statement does).
    ErrSink Detail(const ErrDetail &what, int systemError = 0, int fileLine = 0) const
    {
        ErrSink with = *this;
        with.detail = what.Text();
        with.osError = systemError;
        with.line = fileLine;
        return with;
    }
};

// Formats the message like printf and appends one line to the error log,
// in a single write, so lines of threads and processes that share the log
// never interleave. Every byte of the message below 0x20, 0x7F, the C1
// controls (U+0080 to U+009F, as UTF-8 or as single bytes) and every byte
// of no valid UTF-8 character is written as \xHH, so a received or
// caller-supplied text can neither break nor forge a line nor steer a
// terminal (UTF-8 text from U+00A0 up stays as it is); only a line feed that ends the format itself is written
// as it is. Card numbers however written show only their last four digits
// (MaskDigitRuns), so none is kept (callers mask the values of card-data
// fields themselves, with ValueForLog). The sink's detail is masked and
// escaped the same way and kept in the record, cut to 255 characters. Returns 0 when the line was written, -1 when the
// log cannot be opened (the message is lost to the file, but still kept in the record).
int WriteErrLog(const ErrSink &sink, ErrCategory category, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Opens every exported function: the outermost call of a nesting forgets
// the previous call's failure.
class ExportedCall {
public:
    explicit ExportedCall(LastErr &last);
    ~ExportedCall();
    ExportedCall(const ExportedCall &) = delete;
    ExportedCall &operator=(const ExportedCall &) = delete;

private:
    LastErr &last_;
};

// GetLastErrMesg of one record: copies the text without the line feed some
// formats end in (cut to fit, NUL-terminated when size > 0) and returns the
// category.
int CopyLastErr(const LastErr &last, char *text, int size);

// The size of a TpError before osError, line and detail were added: the
// least TpGetLastError takes.
inline constexpr int kErrorRecordMinSize = TP_ERROR_MIN_SIZE;

// TpGetLastError of one record: the category, the field, the offset, the
// text and, as far as err->size has room for each whole member, the
// system's error number, the line and the detail; nothing at or beyond
// err->size is written. -1 for a NULL err or a size below
// kErrorRecordMinSize, else the category.
int CopyLastError(const LastErr &last, TpError *err);

// "YYYY-MM-DD HH:MM:SS" of a local time.
void FormatStamp(const std::tm &when, char out[kStampSize]);

}  // namespace tranpak

#endif
