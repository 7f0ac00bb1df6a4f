// The library's side of the BER-TLV round trips against an independent
// parser (tests/message/tlv_npm_check.js), through the public functions:
//   tlv_probe build SETS   each set of the file built, one hex line a set
//   tlv_probe parse FILE   each hex line of the file read back, as the
//                          sets file writes a set, then a line "end"
#include "support/tlv_sets.h"

#include <iostream>

using namespace tranpak::test;

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: tlv_probe build SETS | parse FILE\n";
        return 2;
    }
    const std::string command = argv[1];
    if (command == "build") {
        for (const TlvSet &set : ReadTlvSets(argv[2])) {
            std::string why;
            const auto bytes = BuildTlvSet(set, &why);
            if (bytes.empty() && !set.lines.empty()) {
                std::cerr << set.name << ": " << why << "\n";
                return 1;
            }
            std::cout << HexText(bytes.data(), bytes.size()) << "\n";
        }
        return 0;
    }
    if (command == "parse") {
        std::ifstream in(argv[2]);
        std::string line;
        while (std::getline(in, line))
            std::cout << ParsedTlvText(HexBytes(line)) << "end\n";
        return 0;
    }
    std::cerr << "tlv_probe: no command " << command << "\n";
    return 2;
}
