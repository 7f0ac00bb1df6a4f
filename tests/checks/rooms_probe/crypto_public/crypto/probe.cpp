// Probe: the crypto reading the public header.
#include "tranpak.h"
