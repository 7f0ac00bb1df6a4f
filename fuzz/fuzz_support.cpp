#include "fuzz_support.h"

#include "message/mesg_state.h"
#include "message/settings.h"
#include "tranpak.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tranpak::fuzz {

const char kEveryTypeDefinitions[] =
    "F1  ANS 6     1\n"
    "F2  N   19,2  2\n"
    "F3  N   6     3\n"
    "F4  NF  12    4\n"
    "F5  NI  8     5\n"
    "F6  A   4     6\n"
    "F7  AN  5     7\n"
    "F8  B   8     8\n"
    "F9  ANS 399,3 9\n"
    "F10 NI  11,2  10\n"
    "F11 NF  40,2  11\n"
    "F12 A   20,2  12\n"
    "F13 AN  30,3  13\n"
    "F14 B   16,2  14\n"
    "F15 B   400   15\n"
    "F16 ANS 399   16\n"
    "F17 N   0     17\n"
    "F18 ANS 99,11 18\n"
    "MAC B   8     64\n";

void EnterScratchDir()
{
    static bool entered = false;
    if (entered)
        return;
    entered = true;
    char name[] = "/tmp/tranpak-fuzz-XXXXXX";
    if (mkdtemp(name) == nullptr)
        std::abort();
    std::filesystem::current_path(name);
}

void WriteFile(const char *path, const void *bytes, size_t size)
{
    std::FILE *f = std::fopen(path, "wb");
    if (f == nullptr)
        std::abort();
    std::fwrite(bytes, 1, size, f);
    std::fclose(f);
}

void InitWithDefinitions(const char *definitions)
{
    EnterScratchDir();
    std::filesystem::create_directories(std::filesystem::path(kSettingsFile).parent_path());
    const std::string settings =
        "[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=/dev/null\n"
        "[Bitmap Define File]\nBMPFILE=fuzz-bitmap.txt\n"
        "[Com Trace File]\nCTRACEFILE=/dev/null\n";
    WriteFile(kSettingsFile, settings.data(), settings.size());
    WriteFile("fuzz-bitmap.txt", definitions, std::char_traits<char>::length(definitions));
    Require(::Init8583() == 0, "the fuzz definitions load");
}

void Require(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "property does not hold: %s\n", what);
        std::abort();
    }
}

}  // namespace tranpak::fuzz
