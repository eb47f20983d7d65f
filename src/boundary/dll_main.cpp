#include <windows.h>

// Nothing runs at load time: process-wide objects are built on first use and destroyed by the
// runtime when the library is unloaded.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
