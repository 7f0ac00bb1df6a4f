// The field definition file reader, on whole files.
#include "api/session.h"
#include "message/mesg_state.h"
#include "fuzz_support.h"
#include "tranpak.h"

#include <cstring>

using namespace tranpak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (fuzz::InitWithDefinitions(""), true);
    (void)ready;
    fuzz::WriteFile("fuzz-bitmap.txt", data, size);
    Init8583();
    // Whatever the file held, no record is left with a length that a
    // buffer could not serve.
    for (const BMPCell &c : DefaultMesg().cells) {
        fuzz::Require(c.maxlen >= 0 && c.maxlen <= kBinMaxLen, "maxlen within buf");
        fuzz::Require(c.maxlen <= kTextMaxLen || c.type == kTypeB, "text maxlen leaves room for the NUL");
        fuzz::Require(c.varlen >= 0 && c.varlen <= kMaxVarLen, "varlen within the prefix buffer");
        fuzz::Require(c.type >= -1 && c.type <= kTypeB, "type is a code or the refused mark");
        fuzz::Require(std::memchr(c.name, 0, sizeof c.name) != nullptr, "name terminated");
    }
    return 0;
}
