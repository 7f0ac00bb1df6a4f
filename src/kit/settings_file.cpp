#include "kit/settings_file.h"

#include "kit/text_class.h"
#include "os/os.h"

#include <cstring>

namespace tranpak {
namespace {

// Reads one setting into member; a value longer than the member is cut
// to fit it.
void ReadSetting(const char *file, const char *section, const char *key, const char *fallback,
                 char (&member)[kSettingPathSize])
{
    char value[kSettingValueSize];
    os::ReadProfileString(section, key, fallback, value, sizeof value, file);
    size_t len = std::strlen(value);
    if (len > sizeof member - 1)
        len = sizeof member - 1;
    std::memcpy(member, value, len);
    member[len] = '\0';
}

// Reads one [Com Timeout] key into *seconds; false, with the key and its
// text noted in *out, when the value is not a whole number of seconds.
bool ReadTimeLimit(const char *file, const char *key, int32_t *seconds, FileSettings *out)
{
    char value[kSettingValueSize];
    os::ReadProfileString("Com Timeout", key, "", value, sizeof value, file);
    *seconds = ParseTimeLimit(value);
    if (*seconds >= 0)
        return true;
    *seconds = 0;
    out->refusedKey = key;
    std::memcpy(out->refusedValue, value, sizeof value);
    return false;
}

}  // namespace

const char *SettingsFilePath(char fromEnv[kSettingsPathSize])
{
    int n = os::ReadEnvVar(kSettingsEnvVar, fromEnv, kSettingsPathSize);
    if (n < 0)
        return nullptr;
    return n > 0 ? fromEnv : kSettingsFile;
}

int ParseTimeLimit(const char *value)
{
    if (value[0] == '\0')
        return 0;
    for (const char *p = value; *p != '\0'; ++p)
        if (!IsCDigit(*p))
            return -1;
    // Digits only: their value, held at the most once it passes it.
    int seconds = 0;
    for (const char *p = value; *p != '\0'; ++p) {
        seconds = seconds * 10 + (*p - '0');
        if (seconds > kMaxTimeLimitSeconds)
            return kMaxTimeLimitSeconds;
    }
    return seconds;
}

void ReadFileSettings(const char *file, FileSettings *out)
{
    char flag[kSettingValueSize];
    os::ReadProfileString("Com Trace Flag", "GCODEFLAG", "0", flag, sizeof flag, file);
    out->traceflag = flag[0] == '1' ? 1 : 0;
    ReadSetting(file, "Error Log File", "ERRFILE", kDefaultErrFile, out->errfile);
    ReadSetting(file, "Bitmap Define File", "BMPFILE", kDefaultBmpFile, out->bmpfile);
    ReadSetting(file, "Com Trace File", "CTRACEFILE", kDefaultTraceFile, out->ctracefile);
    out->connectLimit = out->sendLimit = out->recvLimit = out->transferLimit = 0;
    out->refusedKey = nullptr;
    out->refusedValue[0] = '\0';
    ReadTimeLimit(file, "CONNECT", &out->connectLimit, out) && ReadTimeLimit(file, "SEND", &out->sendLimit, out) &&
        ReadTimeLimit(file, "RECV", &out->recvLimit, out) && ReadTimeLimit(file, "TRANSFER", &out->transferLimit, out);
}

}  // namespace tranpak
