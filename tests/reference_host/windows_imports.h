// The few Windows functions and IP Helper records the reference host uses, declared as a
// Windows SDK would (there is none for the MSVC target here). x64 layouts.
#pragma once

typedef unsigned long DWORD;
typedef unsigned int UINT;
typedef int BOOL;
typedef void* HMODULE;

extern "C" {
__declspec(dllimport) HMODULE __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) BOOL __stdcall VirtualProtect(void* address, size_t size, DWORD protection, DWORD* old);
__declspec(dllimport) void __stdcall Sleep(DWORD milliseconds);
__declspec(dllimport) void __stdcall SetLastError(DWORD error);
__declspec(dllimport) DWORD __stdcall GetAdaptersInfo(void* adapters, unsigned long* size);
__declspec(dllimport) DWORD __stdcall GetPerAdapterInfo(unsigned long index, void* info, unsigned long* size);
}

const DWORD kPageReadWrite = 0x04;
const DWORD kNoError = 0;

struct IP_ADDR_STRING {
    IP_ADDR_STRING* Next;
    char IpAddress[16];
    char IpMask[16];
    DWORD Context;
};

struct IP_ADAPTER_INFO {
    IP_ADAPTER_INFO* Next;
    DWORD ComboIndex;
    char AdapterName[260];
    char Description[132];
    UINT AddressLength;
    unsigned char Address[8];
    DWORD Index;
    UINT Type;
    UINT DhcpEnabled;
    IP_ADDR_STRING* CurrentIpAddress;
    IP_ADDR_STRING IpAddressList;
    IP_ADDR_STRING GatewayList;
    IP_ADDR_STRING DhcpServer;
    BOOL HaveWins;
    IP_ADDR_STRING PrimaryWinsServer;
    IP_ADDR_STRING SecondaryWinsServer;
    long long LeaseObtained;
    long long LeaseExpires;
};
static_assert(sizeof(IP_ADDR_STRING) == 48, "IP_ADDR_STRING");
static_assert(sizeof(IP_ADAPTER_INFO) == 704, "IP_ADAPTER_INFO");

struct IP_PER_ADAPTER_INFO {
    UINT AutoconfigEnabled;
    UINT AutoconfigActive;
    IP_ADDR_STRING* CurrentDnsServer;
    IP_ADDR_STRING DnsServerList;
};
