// The error log: one timestamped line per failure, appended to the file
// named by the errfile setting.
//
//   [2026-12-06 20:45:07] tranpak: ReadBMPFile() open BMPfile fail
#ifndef TRANPAK_DIAG_ERRLOG_H
#define TRANPAK_DIAG_ERRLOG_H

#include <ctime>

namespace tranpak {

// The message text holds at most 255 characters; a longer one is cut.
inline constexpr int kErrMesgSize = 256;
// "YYYY-MM-DD HH:MM:SS" and a NUL.
inline constexpr int kStampSize = 20;

// Formats the message like printf and appends one line to the error log.
// Every byte of the message below 0x20, and 0x7F, is written as \xHH, so a
// received or caller-supplied text can neither break nor forge a line; only
// a line feed that ends the format itself is written as it is. Returns 0 when the
// line was written, -1 when the log cannot be opened (the message is lost).
int WriteErrLog(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// "YYYY-MM-DD HH:MM:SS" of a local time.
void FormatStamp(const std::tm &when, char out[kStampSize]);

}  // namespace tranpak

#endif
