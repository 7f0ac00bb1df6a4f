#include "settings_view.h"

#include "../common/os.h"
#include "../common/profile.h"

#include <algorithm>
#include <filesystem>

#ifndef TRANPAK_SETTINGS_FILE
#define TRANPAK_SETTINGS_FILE "c:/windows/system/8583.ini"
#endif

namespace tranpak::tools {
namespace {

constexpr size_t kEnvPathMax = 1023;
constexpr size_t kPathMax = 159;
constexpr long long kMaxLimitSeconds = 86400;

// The library reads no settings from a directory, a pipe or a device.
bool Readable(const std::string &path)
{
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    using std::filesystem::file_type;
    return type == file_type::regular || type == file_type::not_found || type == file_type::none;
}

std::string Setting(const std::string &file, const char *section, const char *key, const char *fallback)
{
    return ReadProfileValue(file, section, key, fallback).substr(0, kPathMax);
}

// A [Com Timeout] value as the library takes it: whole seconds, at most a
// day; empty, 0 or anything but digits give 0.
int Limit(const std::string &file, const char *key)
{
    const std::string text = ReadProfileValue(file, "Com Timeout", key, "");
    long long seconds = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        seconds = std::min<long long>(seconds * 10 + (c - '0'), kMaxLimitSeconds);
    }
    return static_cast<int>(seconds);
}

}  // namespace

SettingsView ViewSettings()
{
    SettingsView v;
    std::string fromEnv;
    const bool set = os::GetEnvVar("TRANPAK_SETTINGS", &fromEnv) && !fromEnv.empty();
    v.pathFits = !set || fromEnv.size() <= kEnvPathMax;
    if (!v.pathFits)
        return v;
    v.path = set ? fromEnv : TRANPAK_SETTINGS_FILE;
    v.read = Readable(v.path);
    if (v.read) {
        v.errfile = Setting(v.path, "Error Log File", "ERRFILE", "../run/errlog.txt");
        v.bmpfile = Setting(v.path, "Bitmap Define File", "BMPFILE", "../etc/bitmap.txt");
        v.ctracefile = Setting(v.path, "Com Trace File", "CTRACEFILE", "../run/ctrace.txt");
        v.trace = ReadProfileValue(v.path, "Com Trace Flag", "GCODEFLAG", "0").substr(0, 1) == "1";
        v.connectLimit = Limit(v.path, "CONNECT");
        v.sendLimit = Limit(v.path, "SEND");
        v.recvLimit = Limit(v.path, "RECV");
        v.transferLimit = Limit(v.path, "TRANSFER");
    }
    return v;
}

TpSettings ExchangeSettings(const SettingsView &view, int recvSeconds)
{
    TpSettings s{};
    s.traceFlag = view.trace ? 1 : 0;
    s.errFile = view.read ? view.errfile.c_str() : nullptr;
    s.bmpFile = view.read ? view.bmpfile.c_str() : nullptr;
    s.ctraceFile = view.read ? view.ctracefile.c_str() : nullptr;
    s.connectLimit = view.connectLimit;
    s.sendLimit = view.sendLimit;
    s.recvLimit = recvSeconds > 0 ? recvSeconds : view.recvLimit > 0 ? view.recvLimit : kRecvSeconds;
    s.transferLimit = view.transferLimit;
    return s;
}

}  // namespace tranpak::tools
