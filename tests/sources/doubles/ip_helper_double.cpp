// An IP Helper library whose answers a test knows: one adapter, one interface, one DNS server.
// Built several times with different version resources; one build lacks GetIpNetTable.
#include <windows.h>
#include <iprtrmib.h>
#include <iptypes.h>

#include <cstring>

#include "ip_helper_double.h"

namespace {

LONG g_lastIfTableOrder = kNoIfTableOrderYet;

// The two-step size protocol of IP Helper: the caller learns the size it needs either way.
bool Fits(const void* buffer, ULONG* size, ULONG needed) {
    const bool fits = buffer && *size >= needed;
    *size = needed;
    return fits;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI GetAdaptersInfo(IP_ADAPTER_INFO* buffer, ULONG* size) {
    if (!Fits(buffer, size, sizeof(IP_ADAPTER_INFO))) return ERROR_BUFFER_OVERFLOW;
    std::memset(buffer, 0, sizeof *buffer);
    std::strcpy(buffer->AdapterName, kDoubleAdapterName);
    buffer->Index = kDoubleAdapterIndex;
    return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI GetIfTable(MIB_IFTABLE* table, ULONG* size, BOOL order) {
    g_lastIfTableOrder = order;
    if (!Fits(table, size, sizeof(MIB_IFTABLE))) return ERROR_INSUFFICIENT_BUFFER;
    std::memset(table, 0, sizeof *table);
    table->dwNumEntries = 1;
    table->table[0].dwIndex = kDoubleAdapterIndex;
    return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI GetPerAdapterInfo(ULONG index, IP_PER_ADAPTER_INFO* buffer, ULONG* size) {
    if (index != kDoubleAdapterIndex) return ERROR_INVALID_PARAMETER;
    if (!Fits(buffer, size, sizeof(IP_PER_ADAPTER_INFO))) return ERROR_BUFFER_OVERFLOW;
    std::memset(buffer, 0, sizeof *buffer);
    std::strcpy(buffer->DnsServerList.IpAddress.String, kDoubleDnsServer);
    return NO_ERROR;
}

// Present so that the binding finds them; the library never calls them.
__declspec(dllexport) DWORD WINAPI GetNetworkParams(void*, ULONG*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetNumberOfInterfaces(DWORD*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIfEntry(void*) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIpForwardTable(void*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetIpAddrTable(void*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
#ifndef WITHOUT_GET_IP_NET_TABLE
__declspec(dllexport) DWORD WINAPI GetIpNetTable(void*, ULONG*, BOOL) { return ERROR_NOT_SUPPORTED; }
#endif

__declspec(dllexport) LONG DoubleLastIfTableOrder() { return g_lastIfTableOrder; }

}  // extern "C"
