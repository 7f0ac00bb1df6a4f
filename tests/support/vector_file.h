// Test vectors kept as data (tests/data/*_vectors.txt): one vector a line,
// its fields apart by spaces, "#" lines comments, "# GROUP: ..." naming the
// source of the lines that follow.
#ifndef TRANPAK_TESTS_VECTOR_FILE_H
#define TRANPAK_TESTS_VECTOR_FILE_H

#include <string>
#include <vector>

namespace tranpak::test {

struct VectorLine {
    std::vector<std::string> fields;
    std::string where;  // "cmac_vectors.txt:12 (NIST SP 800-38B D.2, AES-192)"
};

// The vectors of TRANPAK_DATA_DIR/name; none when the file cannot be read.
std::vector<VectorLine> ReadVectorFile(const std::string &name);

}  // namespace tranpak::test

#endif
