// The session record: everything one conversation with a host needs, in
// storage the caller owns (TpSession in the public header is its storage).
// Every internal function that needs more than the message state takes the
// session first, and reaches its parts from there:
//
//   mesg   message, records, backup, settings, last error   (core/)
//   des    round keys of the last MAC key                    (packet/)
//   file   the file-transfer frame as it travels             (net/)
#ifndef TRANPAK_SESSION_SESSION_H
#define TRANPAK_SESSION_SESSION_H

#include "message/mesg_state.h"
#include "kit/wire.h"
#include "crypto/des.h"

#include <cstdint>

namespace tranpak {

// Largest body of one file frame, and so of a request text.
inline constexpr int kFileBodySize = wire::kFileBodySize;

// A file frame as it travels: the 6 bytes of its head, then the body.
struct FileMesg {
    char stx;
    char mesg_type;
    char len[wire::kLenDigits];  // body length, 4 digits, no NUL
    char buf[kFileBodySize];
};
static_assert(sizeof(FileMesg) == wire::kFileBufSize);

// Marks a session that TpInit8583 has made ready; all zero is not ready.
inline constexpr uint32_t kSessionReady = 0x54505331u;  // "TPS1"

struct Session {
    uint32_t ready;   // kSessionReady once initialised
    MesgState mesg;
    DesContext des;
    FileMesg file;
};

}  // namespace tranpak

#endif
