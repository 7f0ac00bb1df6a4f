// Probe: a folder that is no room.
#include "session/session.h"
