// Windows randomness: RtlGenRandom (advapi32's SystemFunction036), looked
// up when it is asked for, so the library imports nothing more at load.
#include "os/os.h"

#include <cstring>
#include <windows.h>

namespace tranpak::os {
namespace {

using GenRandom = BOOLEAN(WINAPI *)(PVOID, ULONG);

}  // namespace

int RandomBytes(void *out, int count)
{
    bool ok = false;
    HMODULE advapi = LoadLibraryA("advapi32.dll");
    if (advapi != nullptr) {
        const auto gen =
            reinterpret_cast<GenRandom>(reinterpret_cast<void (*)()>(GetProcAddress(advapi, "SystemFunction036")));
        ok = gen != nullptr && count >= 0 && gen(out, static_cast<ULONG>(count)) != 0;
        FreeLibrary(advapi);
    }
    if (ok)
        return 0;
    std::memset(out, 0, static_cast<size_t>(count));
    return -1;
}

}  // namespace tranpak::os
