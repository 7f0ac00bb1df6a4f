// The system's words for a Windows or Windows Sockets error code, for the
// programs' part of the OS layer.
#ifndef TRANPAK_OS_WIN32_SYSTEM_TEXT_WIN32_H
#define TRANPAK_OS_WIN32_SYSTEM_TEXT_WIN32_H

#include <string>

namespace tranpak::os {

// Without the closing ".\r\n"; "Windows error N" when the system has none.
std::string SystemText(unsigned long error);

}  // namespace tranpak::os

#endif
