// The session record: everything one conversation with a host needs, in
// storage the caller owns (TpSession in the public header is its storage),
// composed here from the rooms below; the one default session of the
// eighteen functions of old; and the check that TpSession holds the
// record. The rooms below never see the session: each call hands them the
// parts they need.
//
//   mesg   message, records, backup, settings, last error   (message/)
//   des    round keys of the last MAC key                    (crypto/)
//
// A file transfer's frame lives for its call only (channel/file_transfer.h).
#ifndef TRANPAK_API_SESSION_H
#define TRANPAK_API_SESSION_H

#include "crypto/des.h"
#include "message/mesg_state.h"
#include "tranpak.h"

#include <cstdint>

namespace tranpak {

// Marks a session that TpInit8583 has made ready; all zero is not ready.
inline constexpr uint32_t kSessionReady = 0x54505331u;  // "TPS1"

struct Session {
    uint32_t ready;  // kSessionReady once initialised
    MesgState mesg;
    DesContext des;
};

static_assert(sizeof(Session) <= sizeof(TpSession), "TP_SESSION_SIZE is too small for the session");
static_assert(alignof(Session) <= alignof(TpSession), "TpSession is not aligned enough for the session");

// The session of the eighteen functions, and its parts (for tests,
// benchmarks and fuzz targets, which look into it).
Session &DefaultSession();
inline MesgState &DefaultMesg() { return DefaultSession().mesg; }
inline DesContext &DefaultDes() { return DefaultSession().des; }

}  // namespace tranpak

#endif
