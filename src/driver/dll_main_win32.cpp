// The Windows DLL's entry point.
#include <windows.h>

// The driver keeps no per-thread state, so thread attach and detach
// notifications are only a cost.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
