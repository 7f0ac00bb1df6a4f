// The profile reader of POSIX systems, the layer's own (Windows asks the
// system's): how it reads lines longer than its buffer.
#include "support/profile_probe.h"
#include "support/scratch_dir.h"

namespace tranpak::test {
namespace {

using SettingsTest = ScratchTest;

// Lines of 4,095 bytes and more are read in pieces and the rest of a long
// line dropped; a NUL byte anywhere must not make the next line go with it.
TEST_F(SettingsTest, ProfileReaderDropsOnlyTheRestOfALongLine)
{
    const std::string nul(1, '\0');
    const struct {
        const char *name;
        std::string before;  // the line before "K=v"
    } cases[] = {
        {"4,094 bytes", std::string(4094, 'x')},
        {"4,095 bytes", std::string(4095, 'x')},
        {"4,096 bytes", std::string(4096, 'x')},
        {"a NUL right after the part kept", std::string(4095, 'x') + nul + "yy"},
        {"a NUL in the part dropped", std::string(5000, 'x') + nul + "yy"},
        {"a NUL in a short line", "junk" + nul + "junk"},
    };
    for (const auto &c : cases) {
        WriteSettings("[S]\n" + c.before + "\nK=v\n");
        EXPECT_EQ(Profile("S", "K", "fallback"), "v") << c.name;
    }
}

}  // namespace
}  // namespace tranpak::test
