#include "scenario_iphlpapi.h"

namespace {

IpHelperScenario g_scenario = {};

}  // namespace

extern "C" {

void WINAPI SetIpHelperScenario(const IpHelperScenario* scenario) { g_scenario = scenario ? *scenario : IpHelperScenario{}; }

DWORD WINAPI GetAdaptersInfo(void* adapters, ULONG* size) {
    return g_scenario.getAdaptersInfo ? g_scenario.getAdaptersInfo(adapters, size) : ERROR_NO_DATA;
}

DWORD WINAPI GetIfTable(void* table, ULONG* size, BOOL sorted) {
    return g_scenario.getIfTable ? g_scenario.getIfTable(table, size, sorted) : ERROR_NO_DATA;
}

DWORD WINAPI GetPerAdapterInfo(ULONG index, void* info, ULONG* size) {
    return g_scenario.getPerAdapterInfo ? g_scenario.getPerAdapterInfo(index, info, size) : ERROR_NO_DATA;
}

// Entry points the library binds but never calls.
DWORD WINAPI GetNetworkParams(void*, ULONG*) { return ERROR_NOT_SUPPORTED; }
DWORD WINAPI GetNumberOfInterfaces(DWORD*) { return ERROR_NOT_SUPPORTED; }
DWORD WINAPI GetIfEntry(void*) { return ERROR_NOT_SUPPORTED; }
DWORD WINAPI GetIpForwardTable(void*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
DWORD WINAPI GetIpAddrTable(void*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
DWORD WINAPI GetIpNetTable(void*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }

}  // extern "C"
