#include "settings_view.h"

#include "../common/os.h"
#include "../common/profile.h"

#include <filesystem>

#ifndef TRANPAK_SETTINGS_FILE
#define TRANPAK_SETTINGS_FILE "c:/windows/system/8583.ini"
#endif

namespace tranpak::tools {
namespace {

constexpr size_t kEnvPathMax = 1023;
constexpr size_t kPathMax = 159;

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
    }
    return v;
}

}  // namespace tranpak::tools
