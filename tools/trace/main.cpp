// tranpak-trace: decodes a communication trace file, or one frame given in
// hex, against a field definition file.
//
//   tranpak-trace --defs ../etc/bitmap.txt --key 0123456789ABCDEF ../run/ctrace.txt
//   tranpak-trace --hex "02 30 30 34 38 ..."
#include "../common/tool_support.h"
#include "decode.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using namespace tranpak::tools;

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: tranpak-trace [--defs F] [--key HEX16] [--mask 2,14,...] [--unmask] TRACEFILE\n"
                 "       tranpak-trace [--defs F] [--key HEX16] --hex HEX\n"
                 "Card data fields (2, 14, 35, 36, 45, 52 unless --mask says others) are masked\n"
                 "unless --unmask is given.\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string defs = "../etc/bitmap.txt", hex, file;
    DecodeOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--defs" && hasValue) {
            defs = argv[++i];
        } else if (a == "--key" && hasValue) {
            options.haveKey = ParseKey(argv[++i], options.key);
            if (!options.haveKey)
                return Usage();
        } else if (a == "--hex" && hasValue) {
            hex = argv[++i];
        } else if (a == "--mask" && hasValue) {
            options.masked.clear();
            std::stringstream list(argv[++i]);
            std::string n;
            while (std::getline(list, n, ','))
                options.masked.insert(std::atoi(n.c_str()));
        } else if (a == "--unmask") {
            options.unmask = true;
        } else if (file.empty() && a[0] != '-') {
            file = a;
        } else {
            return Usage();
        }
    }
    if (file.empty() == hex.empty())
        return Usage();
    if (!LoadDefinitions(defs, "")) {
        std::fprintf(stderr, "tranpak-trace: cannot load the definitions in %s\n", defs.c_str());
        return 1;
    }

    if (!hex.empty()) {
        std::string frame;
        if (!ParseHex(hex, &frame)) {
            std::fprintf(stderr, "tranpak-trace: not hex: %s\n", hex.c_str());
            return 2;
        }
        std::fputs(DescribeFrame(frame, options).c_str(), stdout);
        return 0;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tranpak-trace: cannot read %s\n", file.c_str());
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto frames = JoinFrames(ParseTrace(text.str()));
    for (const TracedFrame &f : frames) {
        std::printf("== %s at %s, %zu bytes\n", f.label.c_str(), f.time.c_str(), f.bytes.size());
        std::fputs(DescribeFrame(f.bytes, options).c_str(), stdout);
        std::printf("\n");
    }
    std::printf("%zu packets\n", frames.size());
    return 0;
}
