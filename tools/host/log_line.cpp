#include "log_line.h"

#include <cstdio>

namespace tranpak::tools {

std::string LogLine(long connection, const std::string &text)
{
    std::string line = "tranpak-host: ";
    if (connection > 0)
        line += "#" + std::to_string(connection) + " ";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            line += static_cast<char>(c);
            continue;
        }
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02X", c);
        line += esc;
    }
    return line + "\n";
}

}  // namespace tranpak::tools
