// Shared set-up of the fuzz targets: each runs in a scratch directory of
// its own, with the error log and the trace going to /dev/null so that
// their formatting is exercised without filling a disk.
#ifndef TRANPAK_FUZZ_SUPPORT_H
#define TRANPAK_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tranpak::fuzz {

// Creates and enters the scratch directory, once per process.
void EnterScratchDir();

void WriteFile(const char *path, const void *bytes, size_t size);

// Settings naming the definition file `definitions` (written first), an
// error log and a trace of /dev/null, tracing on; then Init8583, which
// must succeed.
void InitWithDefinitions(const char *definitions);

// A definition set that has every type, fixed and variable.
extern const char kEveryTypeDefinitions[];

// Stops the fuzzer with a crash report when a property does not hold.
void Require(bool holds, const char *what);

}  // namespace tranpak::fuzz

#endif
