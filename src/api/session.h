// The one default session of the eighteen functions of old, and the
// check that TpSession holds the session record.
#ifndef TRANPAK_API_SESSION_H
#define TRANPAK_API_SESSION_H

#include "session/session.h"
#include "tranpak.h"

namespace tranpak {

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
