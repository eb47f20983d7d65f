// The scenario-driven IP Helper double: its three data calls are answered by handlers that the
// test installs in the same process through SetIpHelperScenario. Without handlers the double
// answers as a machine without adapters.
#pragma once

#include <windows.h>

struct IpHelperScenario {
    DWORD(WINAPI* getAdaptersInfo)(void* adapters, ULONG* size);
    DWORD(WINAPI* getIfTable)(void* table, ULONG* size, BOOL sorted);
    DWORD(WINAPI* getPerAdapterInfo)(ULONG index, void* info, ULONG* size);
};

using SetIpHelperScenarioFunction = void(WINAPI*)(const IpHelperScenario* scenario);
