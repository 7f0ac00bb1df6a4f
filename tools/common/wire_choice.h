// The wire dialect a tool speaks: a settings file's [Wire Format] section,
// read as the library reads it (the kit's settings_file.h) and set on the
// tool's sessions key by key with TpSetWireFormat, so that the library's
// codec, and no copy of it, frames and reads every message. Without a
// settings file, or with no section in it, the dialect is the seed's.
#ifndef TRANPAK_TOOLS_WIRE_CHOICE_H
#define TRANPAK_TOOLS_WIRE_CHOICE_H

#include "settings_file.h"
#include "tranpak.h"
#include "wire_format.h"

#include <string>

namespace tranpak::tools {

struct WireChoice {
    wire::WireFormatTexts texts{};  // as the section gives them, "" where a key is missing
    wire::WireFormat format{};      // all zero: the seed's
    bool seed = true;               // the seed's frame (wire::IsSeedFormat)
};

// The [Wire Format] section of file into *c; false with *error when the
// file is not a regular file that can be read, a key is none of the
// section's ("[Wire Format] key LENGHT is not LENGTH, ...") or a value is
// none of its key's ("[Wire Format] LENGTH=BINARY3 is not a value of LENGTH").
bool ReadWireChoice(const std::string &file, WireChoice *c, std::string *error);
// Sets the dialect on a started session, every key the section gave, in
// the section's order; false at the first the library refuses (its
// reason is then the session's last error).
bool UseWire(TpSession *s, const WireChoice &c);
// The dialect in a few words for a tool's output: "the seed's (STX,
// ASCII4, ETX)" or the keys the section set, "LENGTH=BINARY2 ENVELOPE=NONE".
std::string WireSummary(const WireChoice &c);

// Whether the dialect can frame a message on a connection (a length to
// read it by): LENGTH=NONE cannot.
inline bool CanFrame(const WireChoice &c) { return c.format.length != wire::LengthCode::kNone; }

}  // namespace tranpak::tools

#endif
