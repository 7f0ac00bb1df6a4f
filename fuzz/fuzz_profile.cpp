// The POSIX profile reader on whole settings files.
#include "message/settings.h"
#include "fuzz_support.h"
#include "os.h"

#include <cstring>

using namespace tranpak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (fuzz::InitWithDefinitions(""), true);
    (void)ready;
    fuzz::WriteFile(kSettingsFile, data, size);
    static const char *const kLookups[][2] = {
        {"Com Trace Flag", "GCODEFLAG"},
        {"Error Log File", "ERRFILE"},
        {"Bitmap Define File", "BMPFILE"},
        {"Com Trace File", "CTRACEFILE"},
        {"", ""},
        {"a", "b"},
    };
    constexpr int kGuard = 16;
    for (const auto &lookup : kLookups) {
        for (int bufSize : {0, 1, 2, 7, 300}) {
            char out[300 + kGuard];
            std::memset(out, 0x7E, sizeof out);
            int n = os::ReadProfileString(lookup[0], lookup[1], "default", out, bufSize, kSettingsFile);
            if (bufSize == 0) {
                fuzz::Require(n == 0 && out[0] == 0x7E, "nothing written into no room");
                continue;
            }
            fuzz::Require(n >= 0 && n < bufSize, "at most size-1 characters");
            fuzz::Require(out[n] == '\0', "value terminated");
            for (int k = bufSize; k < bufSize + kGuard; ++k)
                fuzz::Require(out[k] == 0x7E, "nothing written past the buffer");
        }
    }
    return 0;
}
