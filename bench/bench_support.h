// Shared by the time benchmarks and the instruction-count driver: the two
// messages that are measured, set up through the library, and their frames.
//
//   worked example   0200 with fields 2 (N 19,2: "12345678"), 3 (N 6: "123"),
//                    4 (NF 12: 10.00) and 64: a 54-byte frame
//   full message     0200 with fields 2 to 6 (ANS 399, 295 'x' each, sent
//                    blank-filled), 7 (ANS 26: "tail") and 64: 2047 bytes,
//                    the largest frame there is
#ifndef TRANPAK_BENCH_SUPPORT_H
#define TRANPAK_BENCH_SUPPORT_H

#include "tranpak.h"

#include <string>

namespace tranpak::bench {

extern const unsigned char kKey[8];
// The worked example's definitions, as the definition file holds them.
extern const char kExampleDefinitions[];

// Loads definitions from text, without a settings file, tracing off.
void Define(const std::string &definitions);

void DefineExample();
// The worked example's request, as an application sets it (ResetMesg first).
void SetExampleValues();
void SetExample();  // DefineExample, then SetExampleValues
void DefineFull();
void SetFullValues();
void SetFull();  // DefineFull, then SetFullValues

// The frame BuildPacket gives for the current message ("" if it fails).
std::string CurrentFrame();

// A session with the worked example's definitions and request, tracing off
// and no error log, for the session functions' figures.
void SetExampleSession(TpSession *s);

}  // namespace tranpak::bench

#endif
