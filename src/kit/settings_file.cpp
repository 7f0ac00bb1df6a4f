#include "kit/settings_file.h"

#include "kit/mac_names.h"
#include "kit/text_class.h"
#include "os/os.h"

#include <cstring>

namespace tranpak {
namespace {

// A value of the file cut to fit member.
void CutToPath(const char *value, char (&member)[kSettingPathSize])
{
    size_t len = std::strlen(value);
    if (len > sizeof member - 1)
        len = sizeof member - 1;
    std::memcpy(member, value, len);
    member[len] = '\0';
}

// The keys of [Com Timeout] in the order a refusal is looked for, and the
// limit each sets.
struct LimitKey {
    const char *key;
    int32_t ComLimits::*limit;
};
constexpr LimitKey kLimitKeys[] = {
    {"CONNECT", &ComLimits::connectLimit},
    {"SEND", &ComLimits::sendLimit},
    {"RECV", &ComLimits::recvLimit},
    {"TRANSFER", &ComLimits::transferLimit},
};
constexpr int kLimitKeyCount = sizeof kLimitKeys / sizeof kLimitKeys[0];

// A small whole number of digits only, else -1.
int SmallNumber(const char *value)
{
    int n = 0;
    for (const char *p = value; *p != '\0'; ++p) {
        if (!IsCDigit(*p) || n > 1000)
            return -1;
        n = n * 10 + (*p - '0');
    }
    return value[0] == '\0' ? -1 : n;
}

// The library's choice from the texts of [MAC], each value checked in turn.
void TakeMac(MacFileSettings *mac)
{
    mac->algorithm = TP_MAC_LEGACY;
    mac->padding = TP_MAC_PAD1;
    mac->keyLen = MacDefaultKeyLen(TP_MAC_LEGACY);
    mac->covers = TP_MAC_COVERS_DATA;
    mac->fault = kMacSettingsTaken;
    if (mac->unknownKey[0] != '\0') {
        mac->fault = kMacKeyUnknown;
        return;
    }
    const MacName *algorithm =
        mac->algorithmText[0] == '\0' ? MacNameOf(TP_MAC_LEGACY) : FindMacName(mac->algorithmText);
    if (algorithm == nullptr) {
        mac->fault = kMacAlgorithmUnknown;
        return;
    }
    mac->algorithm = algorithm->algorithm;
    const int padding = mac->paddingText[0] == '\0' ? TP_MAC_PAD1 : SmallNumber(mac->paddingText);
    if (padding != TP_MAC_PAD1 && padding != TP_MAC_PAD2) {
        mac->fault = kMacPaddingUnknown;
        return;
    }
    mac->padding = padding;
    const int keyLen =
        mac->keyLenText[0] == '\0' ? MacDefaultKeyLen(algorithm->algorithm) : SmallNumber(mac->keyLenText);
    if (!MacKeyLenFits(algorithm->algorithm, keyLen)) {
        mac->fault = kMacKeyLenRefused;
        return;
    }
    mac->keyLen = keyLen;
    const bool legacy = algorithm->algorithm == TP_MAC_LEGACY;
    const int covers = mac->coversText[0] == '\0' ? (legacy ? TP_MAC_COVERS_DATA : TP_MAC_COVERS_MESSAGE)
                                                  : FindMacCovers(mac->coversText);
    if (covers == 0) {
        mac->fault = kMacCoversUnknown;
        return;
    }
    if (legacy && covers == TP_MAC_COVERS_MESSAGE) {
        mac->fault = kMacCoversNotLegacy;
        return;
    }
    mac->covers = covers;
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

ComLimits LimitsOf(const TpSettings &settings)
{
    return ComLimits{settings.connectLimit, settings.sendLimit, settings.recvLimit, settings.transferLimit};
}

void PutLimits(const ComLimits &limits, TpSettings *settings)
{
    settings->connectLimit = limits.connectLimit;
    settings->sendLimit = limits.sendLimit;
    settings->recvLimit = limits.recvLimit;
    settings->transferLimit = limits.transferLimit;
}

void ReadFileSettings(const char *file, FileSettings *out)
{
    char flag[kSettingValueSize];
    char errfile[kSettingValueSize];
    char bmpfile[kSettingValueSize];
    char ctracefile[kSettingValueSize];
    char limits[kLimitKeyCount][kSettingValueSize];
    MacFileSettings &mac = out->mac;
    const os::ProfileKey keys[] = {
        {"Com Trace Flag", "GCODEFLAG", "0", flag, sizeof flag},
        {"Error Log File", "ERRFILE", kDefaultErrFile, errfile, sizeof errfile},
        {"Bitmap Define File", "BMPFILE", kDefaultBmpFile, bmpfile, sizeof bmpfile},
        {"Com Trace File", "CTRACEFILE", kDefaultTraceFile, ctracefile, sizeof ctracefile},
        {"Com Timeout", kLimitKeys[0].key, "", limits[0], sizeof limits[0]},
        {"Com Timeout", kLimitKeys[1].key, "", limits[1], sizeof limits[1]},
        {"Com Timeout", kLimitKeys[2].key, "", limits[2], sizeof limits[2]},
        {"Com Timeout", kLimitKeys[3].key, "", limits[3], sizeof limits[3]},
        {"MAC", "ALGORITHM", "", mac.algorithmText, sizeof mac.algorithmText},
        {"MAC", "PADDING", "", mac.paddingText, sizeof mac.paddingText},
        {"MAC", "KEYLEN", "", mac.keyLenText, sizeof mac.keyLenText},
        {"MAC", "COVERS", "", mac.coversText, sizeof mac.coversText},
#define TRANPAK_WIRE_KEY(k) {"Wire Format", wire::kWireFormatKeys[k], "", out->wireTexts.value[k], wire::kWireValueSize}
        TRANPAK_WIRE_KEY(0),
        TRANPAK_WIRE_KEY(1),
        TRANPAK_WIRE_KEY(2),
        TRANPAK_WIRE_KEY(3),
        TRANPAK_WIRE_KEY(4),
        TRANPAK_WIRE_KEY(5),
        TRANPAK_WIRE_KEY(6),
        TRANPAK_WIRE_KEY(7),
        TRANPAK_WIRE_KEY(8),
        TRANPAK_WIRE_KEY(9),
#undef TRANPAK_WIRE_KEY
    };
    static_assert(wire::kWireFormatKeyCount == 10, "every key of [Wire Format] is read");
    static_assert(sizeof keys / sizeof keys[0] <= os::kMostProfileKeys, "one pass reads every key");
    os::ProfileStray wireStray{"Wire Format",
                               wire::kWireFormatKeys,
                               wire::kWireFormatKeyCount,
                               out->wireUnknownKey,
                               sizeof out->wireUnknownKey,
                               0,
                               nullptr};
    os::ProfileStray stray{"MAC", kMacSettingKeys, kMacSettingKeyCount, mac.unknownKey, sizeof mac.unknownKey,
                           0,     &wireStray};
    os::ReadProfile(file, keys, sizeof keys / sizeof keys[0], &stray);

    out->traceflag = flag[0] == '1' ? 1 : 0;
    CutToPath(errfile, out->errfile);
    CutToPath(bmpfile, out->bmpfile);
    CutToPath(ctracefile, out->ctracefile);
    out->limits = ComLimits{};
    out->refusedKey = nullptr;
    out->refusedValue[0] = '\0';
    for (int i = 0; i < kLimitKeyCount; ++i) {
        const int seconds = ParseTimeLimit(limits[i]);
        if (seconds < 0) {
            // This limit and the ones after it stay 0.
            out->refusedKey = kLimitKeys[i].key;
            std::memcpy(out->refusedValue, limits[i], sizeof limits[i]);
            break;
        }
        out->limits.*kLimitKeys[i].limit = seconds;
    }
    TakeMac(&mac);
    out->wireFault = wire::ParseWireFormat(out->wireTexts, &out->wire);
}

}  // namespace tranpak
