// A DLL that refuses to load.  Planted beside the program under a system
// DLL's name, it makes any load of that name from the program's folder fail.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) { return reason != DLL_PROCESS_ATTACH; }
