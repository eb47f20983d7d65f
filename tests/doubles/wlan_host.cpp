// A library of the program's own that builds the process-wide wireless LAN binding, so a test
// can unload it and see the binding go with it.
#include "sources/wlan.h"

extern "C" __declspec(dllexport) bool HostHasWlanAPI() { return GetWlanAPI() != nullptr; }
