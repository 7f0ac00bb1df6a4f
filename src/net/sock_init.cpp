#include "net/sock_init.h"

#include "platform/platform.h"

namespace tranpak {

int SockAppInit() { return plat::SockStartup(); }

}  // namespace tranpak
