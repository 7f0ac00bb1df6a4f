// tranpak-trace --wireshark: a Lua dissector for Wireshark and tshark made
// from a settings file's wire dialect and a definition file. The Lua is
// one fixed piece of code (wireshark_lua.h) after tables that the
// generator writes from the data:
//
//   DIALECT  the [Wire Format] section, key by key, and the frame's sizes
//   SEED     the seed's own format, for the heuristic on any port
//   FIELDS   [n] = {name, type, length, prefix digits (0: fixed)}, 1 to 128
//   CARD_FIELDS, CHARSETS, PORT
#ifndef TRANPAK_TOOLS_WIRESHARK_H
#define TRANPAK_TOOLS_WIRESHARK_H

#include "wire_format.h"
#include "tranpak.h"

#include <string>

namespace tranpak::tools {

struct DissectorSource {
    wire::WireFormat format;   // the dialect frames are decoded by
    TpSession *definitions;    // a session started with the field definitions
    int port = 0;              // registered on this TCP port; 0: none (Decode As and the heuristic)
    std::string settingsName;  // named in the Lua's first lines
    std::string definitionsName;
};

// The whole Lua dissector.
std::string DissectorLua(const DissectorSource &source);

// The command: reads the settings file (settings, "" for none: the seed's
// format) and the definitions (defs; "" for the settings' definition file,
// or without settings the decoder's default ones) into session, and writes
// the dissector to out. 0, or 1 with the reason on standard error.
int WriteDissector(const char *tool, const std::string &out, const std::string &settings, const std::string &defs,
                   int port, TpSession *session);

// The Lua tables alone, before the code: for the tests and for a reader.
std::string DissectorTables(const DissectorSource &source);

}  // namespace tranpak::tools

#endif
