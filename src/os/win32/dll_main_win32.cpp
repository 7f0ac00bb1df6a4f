// Load-time start-up of the Windows DLL: Windows Sockets is started once
// per process when the library is loaded. When that fails the user is told
// in a message box and the load fails, so no application runs without it.
// Windows Sockets is never cleaned up at unload; it lives until the
// process ends.
#include "os/os.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    if (tranpak::os::SocketsStart() == 0)
        return TRUE;
    MessageBoxW(nullptr, L"Windows 通信端口初始化失败。", L"tranpak", MB_OK | MB_ICONERROR);
    return FALSE;
}
