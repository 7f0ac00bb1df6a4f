// Probe: the kit reaching into the message room.
#include "message/mesg_state.h"
