// Probe: a lower room reaching up.
#include "codec/packet.h"
