// Probe: message and crypto including each other.
#include "crypto/probe.h"
