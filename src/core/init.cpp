// Init8583: clears the field table, reads the settings, loads the field
// definition file and prepares an empty frame.
#include "core/bmpfile.h"
#include "core/mesg_state.h"
#include "core/numtext.h"
#include "core/settings.h"
#include "core/text_check.h"
#include "diag/errlog.h"
#include "platform/platform.h"
#include "tranpak.h"

#include <cstring>

namespace tranpak {
namespace {

// Reads one setting; values longer than the member (159 characters) are
// cut to fit it.
void ReadSetting(const char *file, const char *section, const char *key, const char *fallback, char *member,
                 int memberSize)
{
    char value[kSettingValueSize];
    plat::ReadProfileString(section, key, fallback, value, sizeof value, file);
    size_t len = std::strlen(value);
    if (len > static_cast<size_t>(memberSize - 1))
        len = static_cast<size_t>(memberSize - 1);
    std::memcpy(member, value, len);
    member[len] = '\0';
}

// Reads one [Com Timeout] key into *seconds; false, with the line logged,
// when the value is not a whole number of seconds.
bool ReadTimeLimit(const char *file, const char *key, int32_t *seconds)
{
    char value[kSettingValueSize];
    plat::ReadProfileString("Com Timeout", key, "", value, sizeof value, file);
    *seconds = ParseTimeLimit(value);
    if (*seconds >= 0)
        return true;
    *seconds = 0;
    WriteErrLog(kErrSettings, "tranpak: [Com Timeout] %s=%s is not a whole number of seconds", key, value);
    return false;
}

// Reads the four settings and the limits; false after the first limit that
// is no number of seconds.
bool ReadSettings(const char *file, LibSettings &s)
{
    char flag[kSettingValueSize];
    plat::ReadProfileString("Com Trace Flag", "GCODEFLAG", "0", flag, sizeof flag, file);
    s.traceflag = flag[0] == '1' ? 1 : 0;
    ReadSetting(file, "Error Log File", "ERRFILE", "../run/errlog.txt", s.errfile, kPathSize);
    ReadSetting(file, "Bitmap Define File", "BMPFILE", "../etc/bitmap.txt", s.bmpfile, kPathSize);
    ReadSetting(file, "Com Trace File", "CTRACEFILE", "../run/ctrace.txt", s.ctracefile, kPathSize);
    s.connectLimit = s.sendLimit = s.recvLimit = s.transferLimit = 0;
    return ReadTimeLimit(file, "CONNECT", &s.connectLimit) && ReadTimeLimit(file, "SEND", &s.sendLimit) &&
           ReadTimeLimit(file, "RECV", &s.recvLimit) && ReadTimeLimit(file, "TRANSFER", &s.transferLimit);
}

}  // namespace

const char *SettingsFilePath()
{
    static char fromEnv[kSettingsPathSize];
    int n = plat::ReadEnvVar(kSettingsEnvVar, fromEnv, sizeof fromEnv);
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
    int32_t seconds = TextToInt(value);  // saturates, so huge values stay positive
    return seconds > kMaxTimeLimitSeconds ? kMaxTimeLimitSeconds : seconds;
}

void ClearCellTable()
{
    std::memset(g_mesg.cells, 0, sizeof g_mesg.cells);
    g_mesg.written = WrittenCells{};
}

}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL Init8583(void)
{
    ExportedCall call;
    ClearCellTable();
    const char *file = SettingsFilePath();
    if (file == nullptr) {
        // No settings means no error log path either: the reason is kept
        // for GetLastErrMesg and goes to the log only if one was named before.
        WriteErrLog(kErrSettings, "tranpak: %s names a path of over %d characters", kSettingsEnvVar,
                    kSettingsPathSize - 1);
        return -1;
    }
    // A pipe or a device would keep the reader waiting or reading forever.
    const plat::PathKind kind = plat::LocalPathKind(file);
    if (kind == plat::kPathDirectory || kind == plat::kPathOther) {
        WriteErrLog(kErrSettings, "tranpak: settings file %s is not a regular file", file);
        return -1;
    }
    if (!ReadSettings(file, g_mesg.settings) || ReadBMPFile() != 0)
        return -1;
    g_mesg.packet.start = kStartByte;
    std::memset(g_mesg.packet.bitmap, 0, sizeof g_mesg.packet.bitmap);
    g_mesg.packet.stop = kStopByte;
    return 0;
}
