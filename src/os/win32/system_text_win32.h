// The system's words for a Windows or Windows Sockets error code, for the
// programs' part of the OS layer.
#ifndef TRANPAK_OS_WIN32_SYSTEM_TEXT_WIN32_H
#define TRANPAK_OS_WIN32_SYSTEM_TEXT_WIN32_H

namespace tranpak::os {

// Into text (size bytes, always NUL-terminated when size > 0), without the
// closing ".\r\n"; "Windows error N" when the system has none. Returns text.
const char *SystemText(unsigned long error, char *text, int size);

}  // namespace tranpak::os

#endif
