// The cloud service's companion library: its presence beside the program selects online mode.
// Nothing in it is called.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
