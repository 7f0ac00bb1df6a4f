// The request the client sends, from its operands (TYPE FIELD=VALUE ...),
// and in a load the trace number, field 11, counted up by one for each
// exchange so that every reply can be told from the others.
#ifndef TRANPAK_TOOLS_REQUEST_H
#define TRANPAK_TOOLS_REQUEST_H

#include "tranpak.h"

#include <string>
#include <vector>

namespace tranpak::tools {

// Sets the type and the fields on the session. 0 when all are set;
// kExitUsage with *why for an operand that is no FIELD=VALUE or a value
// its field's type cannot take; -1 with *why naming what the library
// refused (its reason is the session's last failure).
int SetRequest(TpSession *s, const std::vector<std::string> &operands, std::string *why);

// The trace number of exchange n: first + n modulo 10^width, with zeros
// on the left to the width.
std::string NthTraceNumber(unsigned long long first, unsigned long long n, int width);

class TraceNumbers {
public:
    // Takes field 11 as the request has it. False with *why when it is set
    // but is not a number of digits.
    bool Read(TpSession *s, std::string *why);
    // Puts exchange n's number into field 11; nothing when the request
    // has no field 11. The library's result.
    int Put(TpSession *s, unsigned long long n) const;

private:
    bool present_ = false;
    bool integer_ = false;  // an NI field takes an int, the others text
    int width_ = 0;
    unsigned long long first_ = 0;
};

}  // namespace tranpak::tools

#endif
