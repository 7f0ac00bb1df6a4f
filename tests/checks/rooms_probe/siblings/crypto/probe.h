// Probe: message and crypto including each other.
#include "message/probe.h"
