// A library of the program's own building the process-wide wireless binding, to be unloaded.
#include "sources/wlan.h"

extern "C" __declspec(dllexport) bool HostHasWlanAPI() { return GetWlanAPI() != nullptr; }
