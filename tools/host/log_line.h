// The host's log lines: "tranpak-host: #12 message 0200 fields ...", the
// number counting connections in accept order. Every part a client chose
// is escaped where the line is built (Escaped, shown_text.h); the line is
// escaped once more as a whole, so no control byte and no byte from 0x7F
// reaches the terminal, whatever a part held.
#ifndef TRANPAK_TOOLS_LOG_LINE_H
#define TRANPAK_TOOLS_LOG_LINE_H

#include <string>

namespace tranpak::tools {

// The whole line, newline included; connection 0 gives a line without a
// number. Bytes below 0x20 and from 0x7F become \xHH; a backslash stays
// as it is, so escapes already made are not doubled.
std::string LogLine(long connection, const std::string &text);

}  // namespace tranpak::tools

#endif
