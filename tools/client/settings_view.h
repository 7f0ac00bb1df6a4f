// Which settings file the library reads at start-up and what it holds,
// found by the library's own lookup (the kit's settings_file.h):
// TRANPAK_SETTINGS when it is set and not empty (at most 1023
// characters), else the built-in path; then [Error Log File] ERRFILE,
// [Bitmap Define File] BMPFILE (the definition file) and [Com Trace File] CTRACEFILE, each cut to
// 159 characters, with the library's defaults, [Com Trace Flag] GCODEFLAG,
// and the [Com Timeout] limits.
#ifndef TRANPAK_TOOLS_SETTINGS_VIEW_H
#define TRANPAK_TOOLS_SETTINGS_VIEW_H

#include "settings_file.h"
#include "tranpak.h"

#include <string>

namespace tranpak::tools {

struct SettingsView {
    bool pathFits = false;  // false: TRANPAK_SETTINGS is too long to use
    std::string path;       // the settings file
    bool read = false;      // false: no settings were read (no path, or not a file)
    std::string errfile;    // empty unless read
    std::string bmpfile;
    std::string ctracefile;
    bool trace = false;
    // CONNECT, SEND, RECV and TRANSFER in seconds; 0: none (also for a
    // value the library refuses and the ones after it, which Init8583
    // reports).
    ComLimits limits{};
};

SettingsView ViewSettings();

// The client waits this long for each reply, of a load or of a single
// message, when neither the settings nor --recv-timeout give a limit, so a
// host that stops answering cannot hold it for ever.
inline constexpr int kRecvSeconds = 10;

// What the sessions that exchange messages start with: the settings as
// viewed (the library's defaults where none were read), with recvSeconds
// as the receive limit when above 0, else the settings' own, else
// kRecvSeconds. The paths point into view.
TpSettings ExchangeSettings(const SettingsView &view, int recvSeconds);

}  // namespace tranpak::tools

#endif
