#include "log_line.h"

#include "../common/shown_text.h"

namespace tranpak::tools {

std::string LogLine(long connection, const std::string &text)
{
    std::string line = "tranpak-host: ";
    if (connection > 0)
        line += "#" + std::to_string(connection) + " ";
    line += ControlsEscaped(text);
    return line + "\n";
}

}  // namespace tranpak::tools
