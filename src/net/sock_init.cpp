#include "net/sock_init.h"

#include "os/os.h"

namespace tranpak {

// Windows Sockets 1.1, exactly: the version the library was written for.
int SockAppInit() { return os::SockStartup(1, 1); }

}  // namespace tranpak
