// Test support: a session made on definitions written into the scratch
// directory, and the texts the text functions give, for the tests of the
// text API.
#ifndef TRANPAK_TESTS_TEXT_SESSION_H
#define TRANPAK_TESTS_TEXT_SESSION_H

#include "support/scratch_dir.h"
#include "tranpak.h"

#include <memory>
#include <string>

namespace tranpak::test {

// A session on definitions (written to defs.txt), logging to errlog.txt.
inline std::unique_ptr<TpSession> ReadyOn(const char *definitions)
{
    WriteFile("defs.txt", definitions);
    auto s = std::make_unique<TpSession>();
    TpSettings settings{};
    settings.errFile = "errlog.txt";
    settings.bmpFile = "defs.txt";
    EXPECT_EQ(TpInit8583With(s.get(), &settings), 0);
    return s;
}

// The log line of the session's last failure.
inline std::string LastText(TpSession *s)
{
    TpError err{};
    err.size = sizeof err;
    TpGetLastError(s, &err);
    return err.text;
}

// A field as TpGetCellText gives it, or "<refused: ...>" with the reason.
inline std::string Text(TpSession *s, int field)
{
    char out[1024];
    return TpGetCellText(s, field, out, sizeof out) == 0 ? out : "<refused: " + LastText(s) + ">";
}

}  // namespace tranpak::test

#endif
