// tranpak-trace: decodes a communication trace file, or one frame given in
// hex, against a definition file.
//
//   tranpak-trace --defs ../etc/bitmap.txt --key 0123456789ABCDEF ../run/ctrace.txt
//   tranpak-trace --frame "02 30 30 34 38 ..."
//   tranpak-trace --json - < ../run/ctrace.txt
//   tranpak-trace --wireshark tranpak.lua --settings 8583.ini --port 5000
#include "../common/cli.h"
#include "../common/installed_files.h"
#include "../common/mac_choice.h"
#include "os_programs.h"
#include "../common/tool_support.h"
#include "../common/wire_choice.h"
#include "decode.h"
#include "settings_file.h"
#include "trace_stream.h"
#include "wireshark.h"

#include <cstdio>
#include <string>

using namespace tranpak::tools;
namespace os = tranpak::os;

namespace {

constexpr char kTool[] = "tranpak-trace";
constexpr int kExitBad = 1;
// Holds the field definitions frames are decoded against.
TpSession g_definitions;

void Help()
{
    std::printf(
        "usage: tranpak-trace [options] TRACEFILE     (- reads standard input)\n"
        "       tranpak-trace [options] --frame HEX\n"
        "Decodes every frame of a communication trace, or one frame, against a field\n"
        "definition file. Card data (fields 2, 14, 35, 36, 45, 52) is masked: only the\n"
        "last four characters of a value are shown, and bytes of those fields in raw\n"
        "dumps show as **.\n"
        "  --defs F       field definition file (default ../etc/bitmap.txt when there,\n"
        "                 else the example definitions installed with the decoder:\n"
        "                 ../share/tranpak/examples/bitmap.txt from its own folder;\n"
        "                 with --settings, its BMPFILE)\n"
        "  --settings F   read frames in the wire dialect of this settings file's\n"
        "                 [Wire Format] section, as the library reads them (a\n"
        "                 trace holds what the dialect put on the wire); its\n"
        "                 BMPFILE, looked for beside it too, unless --defs\n"
        "  --key HEX      check each frame's MAC with this key: 16 hex digits, or\n"
        "                 32, 48 or 64 as --mac takes\n"
        "  --mac NAME     the MAC of field 64: LEGACY (default), ISO9797-1-ALG1,\n"
        "                 ISO9797-1-ALG3, TDES-CMAC or AES-CMAC\n"
        "  --mac-padding N  ISO/IEC 9797-1 padding method 1 or 2 (default 1)\n"
        "  --mac-covers W   message (type, bitmap and the fields before field 64; the\n"
        "                 default of all but LEGACY) or data (the fields only)\n"
        "  --frame HEX    decode this one frame instead of a trace file (as\n"
        "                 tranpak-client --pack-only prints it); --hex is the same\n"
        "  --mask LIST    mask these fields too (numbers 1 to 128, comma separated)\n"
        "  --unmask       show every field in clear\n"
        "  --json         one JSON object per frame, one per line: the message as\n"
        "                 TpDescribe gives it ({\"type\": ..., \"fields\": {\"2\": {\"name\":\n"
        "                 ..., \"type\": ..., \"value\": ...}}}), then the frame's own keys\n"
        "  --wireshark OUT.lua  write a Lua dissector for Wireshark and tshark instead:\n"
        "                 the wire format of --settings F (its [Wire Format]; its\n"
        "                 definition file unless --defs names one) and the fields of\n"
        "                 the definitions; registered on TCP port --port P (and for\n"
        "                 Decode As, and the seed's frames on any port)\n"
        "  --help, --version\n"
        "Exit codes: 0 every frame decoded (and its MAC verified, with --key);\n"
        "1 a frame did not decode or its MAC failed, the input held no frame, a file\n"
        "could not be read, or standard output cannot be written; 2 usage.\n");
}

struct Args {
    std::string defs, settings, hex, file;
    bool haveHex = false, json = false;
    std::string wireshark;
    int port = 0;
    DecodeOptions options;
};

// 0 when the command line is good, else the exit code (after --help, 0 too
// but with *done set).
int ReadArgs(int argc, char **argv, Args *a, bool *done)
{
    std::vector<CliItem> items;
    std::string error;
    if (!ParseCommandLine(argc, argv,
                          {{"defs", true},
                           {"settings", true},
                           {"key", true},
                           {"mac", true},
                           {"mac-padding", true},
                           {"mac-covers", true},
                           {"hex", true},
                           {"frame", true},
                           {"mask", true},
                           {"unmask", false},
                           {"json", false},
                           {"wireshark", true},
                           {"port", true},
                           {"help", false},
                           {"version", false}},
                          &items, &error))
        return UsageError(kTool, error);
    for (const CliItem &it : items) {
        if (it.name == "help" || it.name == "version") {
            it.name == "help" ? Help() : PrintVersion(kTool);
            *done = true;
            return 0;
        }
        if (it.operand()) {
            if (!a->file.empty())
                return UsageError(kTool, "more than one trace file: " + it.value);
            a->file = it.value;
        } else if (it.name == "defs") {
            a->defs = it.value;
        } else if (it.name == "settings") {
            a->settings = it.value;
        } else if (it.name == "key") {
            if (!ParseMacKey(it.value, &a->options.mac, &error))
                return UsageError(kTool, error);
            a->options.haveKey = true;
        } else if (it.name == "mac" || it.name == "mac-padding") {
            if (!(it.name == "mac" ? ParseMacAlgorithm : ParseMacPadding)(it.value, &a->options.mac, &error))
                return UsageError(kTool, error);
        } else if (it.name == "mac-covers") {
            if (!ParseMacCovers(it.value, &a->options.mac, &error))
                return UsageError(kTool, error);
        } else if (it.name == "hex" || it.name == "frame") {
            a->hex = it.value;
            a->haveHex = true;
        } else if (it.name == "mask") {
            if (!ParseFieldList(it.value, &a->options.masked))
                return UsageError(kTool, "--mask takes field numbers 1 to 128 separated by commas, not " + it.value);
        } else if (it.name == "unmask") {
            a->options.unmask = true;
        } else if (it.name == "json") {
            a->json = true;
        } else if (it.name == "wireshark") {
            a->wireshark = it.value;
        } else if (it.name == "port") {
            if (!ParsePort(it.value, &a->port))
                return UsageError(kTool, "--port takes a TCP port, 1 to 65535, not " + it.value);
        }
    }
    if (!a->wireshark.empty()) {
        if (!a->file.empty() || a->haveHex)
            return UsageError(kTool, "--wireshark takes no trace file and no --frame");
        return 0;
    }
    if (a->file.empty() == !a->haveHex)
        return UsageError(kTool, "give either a trace file or --frame");
    if (a->options.haveKey && !MacKeyFault(a->options.mac).empty())
        return UsageError(kTool, MacKeyFault(a->options.mac));
    return 0;
}

// Prints one frame; true when it decoded (and its MAC verified).
bool Show(const std::string &bytes, const std::string &time, const std::string &label, const Args &a)
{
    const FrameReport report = DecodeFrame(bytes, a.options);
    if (a.json) {
        std::printf("%s\n", FrameJson(report, time, label).c_str());
    } else {
        if (!label.empty())
            std::printf("== %s at %s, %zu bytes\n", Escaped(label).c_str(), Escaped(time).c_str(), bytes.size());
        std::fputs(FrameText(report).c_str(), stdout);
    }
    return report.ok();
}

// The dialect of --settings, which the definitions' session speaks.
WireChoice g_wire;

int Run(const Args &a)
{
    if (!a.wireshark.empty())
        return WriteDissector(kTool, a.wireshark, a.settings, a.defs, a.port, &g_definitions);
    if (!LoadDefinitions(&g_definitions, a.defs, "") || !UseWire(&g_definitions, g_wire) ||
        (a.options.haveKey && a.options.wire != nullptr && !UseMac(&g_definitions, a.options.mac))) {
        std::fprintf(stderr, "%s: cannot load the definitions in %s\n", kTool, a.defs.c_str());
        if (const std::string detail = LastDetail(&g_definitions); !detail.empty())
            std::fprintf(stderr, "%s: %s\n", kTool, detail.c_str());
        return kExitBad;
    }
    if (a.haveHex) {
        std::string frame;
        if (!ParseHex(a.hex, &frame))
            return UsageError(kTool, "--frame takes hex digits (blanks allowed), not " + a.hex);
        return Show(frame, "", "", a) ? 0 : kExitBad;
    }
    std::FILE *in = a.file == "-" ? stdin : std::fopen(a.file.c_str(), "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "%s: cannot read %s\n", kTool, a.file.c_str());
        return kExitBad;
    }
    size_t frames = 0;
    bool allGood = true;
    TraceStream stream(
        [&](const TracedFrame &f) {
            ++frames;
            allGood = Show(f.bytes, f.time, f.label, a) && allGood;
            if (!a.json)
                std::printf("\n");
        },
        [&](const std::string &note) { std::fprintf(stderr, "%s: %s: %s\n", kTool, a.file.c_str(), note.c_str()); },
        &g_wire.format);
    // Once standard output fails (its reader is gone, as after "| head"),
    // nothing more can be shown: the rest of the input is not read.
    const auto outputWorks = [] { return std::ferror(stdout) == 0; };
    const bool read = ReadTrace(in, &stream, outputWorks);
    if (in != stdin)
        std::fclose(in);
    if (!outputWorks())
        return kExitBad;
    if (!a.json)
        std::printf("%zu packets\n", frames);
    if (!read) {
        std::fprintf(stderr, "%s: cannot read %s\n", kTool, a.file.c_str());
        return kExitBad;
    }
    if (frames == 0)
        std::fprintf(stderr, "%s: no frame in %s\n", kTool, a.file.c_str());
    return allGood && frames != 0 ? 0 : kExitBad;
}

}  // namespace

int main(int argc, char **argv)
{
    os::IgnoreBrokenPipe();
    Args args;
    bool done = false;
    int rc = ReadArgs(argc, argv, &args, &done);
    if (rc != 0 || done)
        return FinishOutput(kTool, rc);
    args.options.definitions = &g_definitions;
    if (!args.settings.empty()) {
        std::string error;
        if (!ReadWireChoice(args.settings, &g_wire, &error)) {
            std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
            return FinishOutput(kTool, kExitBad);
        }
        args.options.wire = &g_wire;
        if (args.defs.empty()) {
            tranpak::FileSettings read{};
            tranpak::ReadFileSettings(args.settings.c_str(), &read);
            args.defs = BesideSettings(read.bmpfile, args.settings);
        }
    }
    if (args.defs.empty() && args.wireshark.empty())
        args.defs = DefaultDefinitions();
    return FinishOutput(kTool, Run(args));
}
