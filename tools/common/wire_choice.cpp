#include "wire_choice.h"

#include "os.h"

#include <cstdio>

namespace tranpak::tools {

bool ReadWireChoice(const std::string &file, WireChoice *c, std::string *error)
{
    if (os::LocalPathKind(file.c_str()) != os::kPathRegular) {
        *error = "settings file " + file + " is not a file that can be read";
        return false;
    }
    if (std::FILE *probe = std::fopen(file.c_str(), "rb"); probe != nullptr) {
        std::fclose(probe);
    } else {
        *error = "settings file " + file + " cannot be read";
        return false;
    }
    FileSettings read{};
    ReadFileSettings(file.c_str(), &read);
    c->texts = read.wireTexts;  // a value at fault too: UseWire lets the library refuse it
    if (read.wireUnknownKey[0] != '\0') {
        // As the library refuses it: a key misspelt would leave its part at the default.
        *error = std::string("[Wire Format] key ") + read.wireUnknownKey +
                 " is not LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, BITMAP, CHARSET, NUMBERS, PREFIX or BINARY"
                 " (settings file " +
                 file + ")";
        return false;
    }
    if (read.wireFault >= 0) {
        const char *key = wire::kWireFormatKeys[read.wireFault];
        *error = std::string("[Wire Format] ") + key + "=" + read.wireTexts.value[read.wireFault] +
                 " is not a value of " + key + " (settings file " + file + ")";
        return false;
    }
    c->format = read.wire;
    c->seed = wire::IsSeedFormat(read.wire);
    return true;
}

bool UseWire(TpSession *s, const WireChoice &c)
{
    for (int k = 0; k < wire::kWireFormatKeyCount; ++k)
        if (c.texts.value[k][0] != '\0' && TpSetWireFormat(s, wire::kWireFormatKeys[k], c.texts.value[k]) != 0)
            return false;
    return true;
}

std::string WireSummary(const WireChoice &c)
{
    if (c.seed)
        return "the seed's (STX, ASCII4, ETX)";
    std::string text;
    for (int k = 0; k < wire::kWireFormatKeyCount; ++k)
        if (c.texts.value[k][0] != '\0')
            text += (text.empty() ? "" : " ") + std::string(wire::kWireFormatKeys[k]) + "=" + c.texts.value[k];
    return text;
}

}  // namespace tranpak::tools
