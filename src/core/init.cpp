// Init8583: clears the field table, reads the four settings, loads the
// field definition file and prepares an empty frame.
#include "core/bmpfile.h"
#include "core/mesg_state.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tranpak.h"

#include <cstring>

namespace tranpak {
namespace {

// Reads one setting; values longer than the member (159 characters) are
// cut to fit it.
void ReadSetting(const char *section, const char *key, const char *fallback, char *member, int memberSize)
{
    char value[kSettingValueSize];
    plat::ReadProfileString(section, key, fallback, value, sizeof value, kSettingsFile);
    size_t len = std::strlen(value);
    if (len > static_cast<size_t>(memberSize - 1))
        len = static_cast<size_t>(memberSize - 1);
    std::memcpy(member, value, len);
    member[len] = '\0';
}

void ReadSettings(LibSettings &s)
{
    char flag[kSettingValueSize];
    plat::ReadProfileString("Com Trace Flag", "GCODEFLAG", "0", flag, sizeof flag, kSettingsFile);
    s.traceflag = flag[0] == '1' ? 1 : 0;
    ReadSetting("Error Log File", "ERRFILE", "../run/errlog.txt", s.errfile, kPathSize);
    ReadSetting("Bitmap Define File", "BMPFILE", "../etc/bitmap.txt", s.bmpfile, kPathSize);
    ReadSetting("Com Trace File", "CTRACEFILE", "../run/ctrace.txt", s.ctracefile, kPathSize);
}

}  // namespace

void ClearCellTable() { std::memset(g_mesg.cells, 0, sizeof g_mesg.cells); }

}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL Init8583(void)
{
    ClearCellTable();
    ReadSettings(g_mesg.settings);
    if (ReadBMPFile() != 0)
        return -1;
    g_mesg.packet.start = kStartByte;
    std::memset(g_mesg.packet.bitmap, 0, sizeof g_mesg.packet.bitmap);
    g_mesg.packet.stop = kStopByte;
    return 0;
}
