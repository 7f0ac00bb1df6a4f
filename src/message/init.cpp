// Init8583: clears the field table, reads the settings, loads the
// definition file and prepares an empty frame.
#include "message/bmpfile.h"
#include "message/mac_settings.h"
#include "message/mesg_state.h"
#include "message/settings.h"
#include "os/os.h"

#include <cstring>

namespace tranpak {
namespace {

// Reads the settings file, every section in one pass, into the message's
// settings; false, with the line logged, when a [Com Timeout] value is no
// whole number of seconds (the limits from it on are then 0) or a [MAC]
// value is refused.
bool ReadSettings(MesgState &m, const char *file)
{
    FileSettings read{};  // whole: its paths are copied in full below
    ReadFileSettings(file, &read);
    LibSettings &s = m.settings;
    s.traceflag = read.traceflag;
    std::memcpy(s.errfile, read.errfile, kPathSize);
    std::memcpy(s.bmpfile, read.bmpfile, kPathSize);
    std::memcpy(s.ctracefile, read.ctracefile, kPathSize);
    static_cast<ComLimits &>(s) = read.limits;
    if (read.refusedKey != nullptr) {
        WriteErrLog(m.Log().Detail(ErrDetail("settings file %s: [Com Timeout] %s=%s is not a whole number of seconds",
                                             file, read.refusedKey, read.refusedValue)),
                    kErrSettings, "tranpak: [Com Timeout] %s=%s is not a whole number of seconds", read.refusedKey,
                    read.refusedValue);
        return false;
    }
    if (!TakeMacSettings(m, read.mac))
        return false;
    if (read.wireUnknownKey[0] != '\0') {
        // A key misspelt would otherwise leave its part of the frame at the default.
        WriteErrLog(
            m.Log().Detail(ErrDetail("settings file %s: [Wire Format] has no key %s", file, read.wireUnknownKey)),
            kErrSettings,
            "tranpak: [Wire Format] key %s is not LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, BITMAP, CHARSET, "
            "NUMBERS, PREFIX or BINARY",
            read.wireUnknownKey);
        return false;
    }
    if (read.wireFault >= 0) {
        const char *key = wire::kWireFormatKeys[read.wireFault];
        const char *value = read.wireTexts.value[read.wireFault];
        WriteErrLog(m.Log().Detail(
                        ErrDetail("settings file %s: [Wire Format] %s=%s is not a value of %s", file, key, value, key)),
                    kErrSettings, "tranpak: [Wire Format] %s=%s is not a value of %s", key, value, key);
        return false;
    }
    s.wire = read.wire;
    s.dialect = wire::IsSeedFormat(read.wire) ? 0 : 1;
    return true;
}

// A path of TpSettings into member, or the default for NULL; false, with the
// line logged, when it does not fit.
bool TakePath(MesgState &m, const char *key, const char *given, const char *fallback, char *member)
{
    const char *path = given != nullptr ? given : fallback;
    size_t len = std::strlen(path);
    if (len > static_cast<size_t>(kPathSize - 1)) {
        WriteErrLog(m.Log(), kErrSettings, "tranpak: TpInit8583With() %s has over %d characters", key, kPathSize - 1);
        return false;
    }
    std::memcpy(member, path, len + 1);
    return true;
}

// A limit of TpSettings, by the rules of the settings file's.
bool TakeLimit(MesgState &m, const char *key, int given, int32_t *seconds)
{
    if (given < 0) {
        WriteErrLog(m.Log(), kErrSettings, "tranpak: [Com Timeout] %s=%d is not a whole number of seconds", key, given);
        return false;
    }
    *seconds = given > kMaxTimeLimitSeconds ? kMaxTimeLimitSeconds : given;
    return true;
}

// Every member of given into *out; false, with the line logged, at the
// first that is refused.
bool TakeSettings(MesgState &m, const TpSettings *given, LibSettings *out)
{
    if (given == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpInit8583With() settings is NULL");
        return false;
    }
    LibSettings s{};
    s.traceflag = given->traceFlag != 0 ? 1 : 0;
    if (!TakePath(m, "errFile", given->errFile, kDefaultErrFile, s.errfile) ||
        !TakePath(m, "bmpFile", given->bmpFile, kDefaultBmpFile, s.bmpfile) ||
        !TakePath(m, "ctraceFile", given->ctraceFile, kDefaultTraceFile, s.ctracefile) ||
        !TakeLimit(m, "CONNECT", given->connectLimit, &s.connectLimit) ||
        !TakeLimit(m, "SEND", given->sendLimit, &s.sendLimit) ||
        !TakeLimit(m, "RECV", given->recvLimit, &s.recvLimit) ||
        !TakeLimit(m, "TRANSFER", given->transferLimit, &s.transferLimit))
        return false;
    *out = s;
    return true;
}

// The frame a message starts from: no bits, start and stop bytes.
int PrepareFrame(MesgState &m)
{
    m.packet.start = wire::kPacketStart;
    std::memset(m.packet.bitmap, 0, sizeof m.packet.bitmap);
    m.packet.stop = wire::kPacketStop;
    m.wireState = WireState{};
    return 0;
}

}  // namespace

void ClearCellTable(MesgState &m)
{
    std::memset(m.cells, 0, sizeof m.cells);
    std::memset(m.tlvFields, 0, sizeof m.tlvFields);
    m.written = WrittenCells{};
}

int Init8583(MesgState &m, const char *settingsFile)
{
    ClearCellTable(m);
    char fromEnv[kSettingsPathSize];
    const char *file = settingsFile != nullptr ? settingsFile : SettingsFilePath(fromEnv);
    if (file == nullptr) {
        // No settings means no error log path either: the reason is kept
        // for GetLastErrMesg and goes to the log only if one was named before.
        WriteErrLog(m.Log(), kErrSettings, "tranpak: %s names a path of over %d characters", kSettingsEnvVar,
                    kSettingsPathSize - 1);
        return -1;
    }
    // A pipe or a device would keep the reader waiting or reading forever.
    const os::PathKind kind = os::LocalPathKind(file);
    if (kind == os::kPathDirectory || kind == os::kPathOther) {
        WriteErrLog(m.Log().Detail(ErrDetail("settings file %s: not a regular file", file)), kErrSettings,
                    "tranpak: settings file %s is not a regular file", file);
        return -1;
    }
    // Only the built-in file may be missing, and means the defaults: one
    // the caller or TRANPAK_SETTINGS names must be there, and one that is
    // there but cannot be read would otherwise pass for missing, silently.
    const bool named = settingsFile != nullptr || file == fromEnv;
    int error = 0;
    const int readable = os::ProbeReadable(file, &error);
    if (readable < 0 || (readable == 0 && named)) {
        char why[os::kErrorTextSize];
        os::ErrorText(error, why, sizeof why);
        // The reason first: a long path would cut it off the line.
        WriteErrLog(m.Log().Detail(ErrDetail("settings file %s: %s", file, why), error), kErrSettings,
                    "tranpak: settings file cannot be read (%s): %s", why, file);
        return -1;
    }
    if (!ReadSettings(m, file) || ReadBMPFile(m) != 0)
        return -1;
    return PrepareFrame(m);
}

int CheckSettingsWith(MesgState &m, const TpSettings *given)
{
    LibSettings taken{};
    return TakeSettings(m, given, &taken) ? 0 : -1;
}

int Init8583With(MesgState &m, const TpSettings *given)
{
    // Checked whole before anything is taken, so a refusal changes nothing
    // and logs to the error log named before.
    LibSettings taken{};
    if (!TakeSettings(m, given, &taken))
        return -1;
    ClearCellTable(m);
    m.settings = taken;
    if (ReadBMPFile(m) != 0)
        return -1;
    return PrepareFrame(m);
}

}  // namespace tranpak
