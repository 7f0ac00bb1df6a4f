#include "profile.h"

#include <windows.h>

namespace tranpak::tools {

std::string ReadProfileValue(const std::string &file, const char *section, const char *key, const char *fallback)
{
    char value[300] = {};
    GetPrivateProfileStringA(section, key, fallback, value, sizeof value, file.c_str());
    return value;
}

}  // namespace tranpak::tools
