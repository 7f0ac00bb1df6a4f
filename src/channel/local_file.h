// The local file of a transfer: opening, reading and writing it. Without a
// transfer limit the C runtime's buffered calls do it and wait as long as
// the file takes. With one, the file is opened without waiting (a pipe
// that has no writer or no reader yet included) and every read or write
// waits for it no longer than the transfer has left.
#ifndef TRANPAK_CHANNEL_LOCAL_FILE_H
#define TRANPAK_CHANNEL_LOCAL_FILE_H

#include "channel/net.h"

#include <cstdio>

namespace tranpak {

// Results besides a count.
inline constexpr int kLocalFailed = -1;  // the system refused; *error holds its error number
inline constexpr int kLocalLate = -2;    // the transfer's limit passed first (logged)

// Opens the file a send reads ("rb"), or the device or pipe a fetch writes
// ("w+b", forWrite). nullptr when it cannot be opened.
std::FILE *OpenLocal(const char *path, bool forWrite, const FrameDeadline &transfer);

// Reads up to count bytes, as fread does: until count, the file's end or
// an error. Returns the number read, kLocalFailed or kLocalLate; *atEnd is
// set when the file has nothing more to give.
int ReadLocal(std::FILE *f, char *bytes, int count, const FrameDeadline &transfer, bool *atEnd, int *error);

// Writes count bytes and hands them to the system (nothing stays in the
// C runtime's buffer). 0, kLocalFailed or kLocalLate.
int WriteLocal(std::FILE *f, const char *bytes, int count, const FrameDeadline &transfer, int *error);

}  // namespace tranpak

#endif
