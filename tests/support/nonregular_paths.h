// Support for the tests of special local paths: the refusals of Init8583.
#ifndef TRANPAK_TESTS_NONREGULAR_PATHS_H
#define TRANPAK_TESTS_NONREGULAR_PATHS_H

#include "support/scratch_dir.h"

#include <string>
#include <vector>

namespace tranpak::test {

class SpecialFilesTest : public ScratchTest {
protected:
    void SetUp() override;

    struct Refusal {
        const char *settingsFile;  // TRANPAK_SETTINGS, or "" for the usual file
        const char *bmpFile;       // BMPFILE, or "" for the usual definitions
        const char *message;
    };
    // Each Init8583 fails within a second with the message.
    static void ExpectInitRefuses(const std::vector<Refusal> &cases);
    // Names in the scratch directory besides the settings, definitions and log.
    static std::vector<std::string> FilesBesides();
};

}  // namespace tranpak::test

#endif
