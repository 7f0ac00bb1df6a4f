// The communication trace: a timestamped hex and character dump of every
// packet sent or received while tracing is on, appended to the file named
// by the ctracefile setting. One block per packet:
//
//   (empty line)
//   {12-06 20:45:07 send mesg body} [len = 020]
//   0000 : 02-30-30-31 35-48-45-4C 4C-4F-20-57 4F-52-4C-44 || .0015HELLO WORLD
//   0016 : 03-00-FF-7F                                     || ....
//   (empty line)
#ifndef TRANPAK_DIAG_CTRACE_H
#define TRANPAK_DIAG_CTRACE_H

namespace tranpak {

// Bytes shown per dump line, and the line: 74 characters, LF and NUL.
inline constexpr int kTraceBytesPerLine = 16;
inline constexpr int kTraceLineSize = 76;
// A block is written in one append when it shows at most this many bytes
// (every frame does); a longer one goes in several.
inline constexpr int kTraceBlockBytes = 2048;
// The block: its heading (a label of at most 40 characters), the lines
// and the empty line that ends it.
inline constexpr int kTraceHeadSize = 96;
inline constexpr int kTraceBlockSize =
    kTraceHeadSize + (kTraceBlockBytes / kTraceBytesPerLine) * (kTraceLineSize - 1) + 2;

// Appends one block for count bytes to the trace file at path, in a single
// write, so blocks of threads and processes never interleave. Nothing
// happens when the file cannot be opened. The caller decides whether
// tracing is on.
void WriteComTrace(const char *path, const char *label, const void *bytes, int count);

// Formats the dump line of the group starting at offset (at most 16 of the
// count bytes) with its line feed; returns its length (75).
int FormatTraceLine(const unsigned char *bytes, int count, int offset, char line[kTraceLineSize]);

}  // namespace tranpak

#endif
