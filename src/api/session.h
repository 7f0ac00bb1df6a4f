// A session: everything one message needs, in storage the caller owns.
// TpSession in the public header is this record's storage; the eighteen
// functions of old work on the one default session.
#ifndef TRANPAK_API_SESSION_H
#define TRANPAK_API_SESSION_H

#include "core/mesg_state.h"
#include "net/file_transfer.h"
#include "packet/des.h"
#include "tranpak.h"

#include <cstdint>

namespace tranpak {

// Marks a session that TpInit8583 has made ready; all zero is not ready.
inline constexpr uint32_t kSessionReady = 0x54505331u;  // "TPS1"

struct Session {
    uint32_t ready;   // kSessionReady once initialised
    MesgState mesg;   // message, records, backup, settings, last error
    DesContext des;   // round keys of the last MAC key
    FileMesg file;    // the file-transfer frame
};

static_assert(sizeof(Session) <= sizeof(TpSession), "TP_SESSION_SIZE is too small for the session");
static_assert(alignof(Session) <= alignof(TpSession), "TpSession is not aligned enough for the session");

// The session of the eighteen functions, and its parts (for tests,
// benchmarks and fuzz targets, which look into it).
Session &DefaultSession();
inline MesgState &DefaultMesg() { return DefaultSession().mesg; }
inline DesContext &DefaultDes() { return DefaultSession().des; }
inline FileMesg &DefaultFile() { return DefaultSession().file; }

}  // namespace tranpak

#endif
