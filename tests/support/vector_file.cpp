#include "support/vector_file.h"

#include <fstream>
#include <sstream>

namespace tranpak::test {

std::vector<VectorLine> ReadVectorFile(const std::string &name)
{
    std::ifstream in(std::string(TRANPAK_DATA_DIR) + "/" + name);
    std::vector<VectorLine> out;
    std::string line, group;
    const std::string groupMark = "# GROUP: ";
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, groupMark.size(), groupMark) == 0)
            group = line.substr(groupMark.size());
        if (line.empty() || line[0] == '#')
            continue;
        VectorLine v;
        std::istringstream fields(line);
        for (std::string field; fields >> field;)
            v.fields.push_back(field);
        v.where = name + ":" + std::to_string(number) + " (" + group + ")";
        out.push_back(v);
    }
    return out;
}

}  // namespace tranpak::test
