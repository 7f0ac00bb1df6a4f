// The parts of the library's default session that tests look into.
#ifndef TRANPAK_TESTS_DEFAULT_SESSION_H
#define TRANPAK_TESTS_DEFAULT_SESSION_H

#include "api/session.h"

namespace tranpak {

inline MesgState &DefaultMesg() { return DefaultSession().mesg; }
inline DesContext &DefaultDes() { return DefaultSession().des; }
inline FileMesg &DefaultFile() { return DefaultSession().file; }

}  // namespace tranpak

#endif
