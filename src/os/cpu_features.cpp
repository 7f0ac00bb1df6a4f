// What the processor offers beyond its base instruction set: the one
// place that asks it, the same code for every operating system.
#include "os/os.h"

namespace tranpak::os {

bool CpuHasAesInstructions()
{
#if TRANPAK_X86_AES
    // The compiler's runtime runs CPUID once at load time and keeps the
    // feature bits; __builtin_cpu_init only runs it again when nothing has
    // yet, as for a call made before the runtime's own start-up code.
    __builtin_cpu_init();
    return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

}  // namespace tranpak::os
