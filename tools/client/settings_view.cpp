#include "settings_view.h"

#include "os.h"
#include "settings_file.h"

namespace tranpak::tools {

SettingsView ViewSettings()
{
    SettingsView v;
    char fromEnv[kSettingsPathSize];
    const char *path = SettingsFilePath(fromEnv);
    v.pathFits = path != nullptr;
    if (!v.pathFits)
        return v;
    v.path = path;
    // The library reads no settings from a directory, a pipe or a device.
    const os::PathKind kind = os::LocalPathKind(path);
    v.read = kind == os::kPathRegular || kind == os::kPathAbsent;
    if (v.read) {
        FileSettings read;
        ReadFileSettings(path, &read);
        v.errfile = read.errfile;
        v.bmpfile = read.bmpfile;
        v.ctracefile = read.ctracefile;
        v.trace = read.traceflag != 0;
        v.limits = read.limits;
    }
    return v;
}

TpSettings ExchangeSettings(const SettingsView &view, int recvSeconds)
{
    TpSettings s{};
    s.traceFlag = view.trace ? 1 : 0;
    s.errFile = view.read ? view.errfile.c_str() : nullptr;
    s.bmpFile = view.read || !view.bmpfile.empty() ? view.bmpfile.c_str() : nullptr;
    s.ctraceFile = view.read ? view.ctracefile.c_str() : nullptr;
    PutLimits(view.limits, &s);
    s.recvLimit = recvSeconds > 0 ? recvSeconds : view.limits.recvLimit > 0 ? view.limits.recvLimit : kRecvSeconds;
    return s;
}

}  // namespace tranpak::tools
