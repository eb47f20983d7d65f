// A made-up machine's IP Helper data, which a test hands to the IP Helper double
// (iphlpapi_double.cpp) through its export SetFakeIpHelper. Test and double are built by the same
// compiler, so the double simply copies the value.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iprtrmib.h>
#include <iptypes.h>

#include <string>
#include <utility>
#include <vector>

struct FakeAdapter {
    std::string name = "{0000FA4E-0000-4000-8000-000000000001}";
    std::string description = "Ethernet adapter";
    UINT type = MIB_IF_TYPE_ETHERNET;
    DWORD index = 1;
    std::vector<BYTE> mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    UINT dhcpEnabled = 0;
    std::string dhcpServer;
    std::vector<std::pair<std::string, std::string>> addresses = {{"0.0.0.0", "0.0.0.0"}};  // address, mask
    std::vector<std::string> gateways = {""};
    bool haveWins = false;
    std::vector<std::string> primaryWins = {""}, secondaryWins = {""};
    std::vector<std::string> dns;
    DWORD speed = 100000000;  // bits per second in the interface table
};

// The call that fails, as it fails on a real system.
enum class IpHelperFault {
    None,
    AdapterListRead,  // the second GetAdaptersInfo: the list grew between the two calls
    InterfaceTable,   // GetIfTable: not supported
    PerAdapterInfo,   // GetPerAdapterInfo: no data
};

struct FakeIpHelper {
    std::vector<FakeAdapter> adapters;
    IpHelperFault fault = IpHelperFault::None;
};

// A program that loads the double itself (linkset.exe), where no test can call SetFakeIpHelper,
// gets its machine from the text file this environment variable names, read once at load: a
// line per adapter, its fields apart by tabs: name, type, index, description, address, mask.
constexpr char kFakeIpHelperFileVariable[] = "LINKSET_FAKE_IP_HELPER";

// Exports of the double: installs a copy of the machine (null: no adapters), and tells the sort
// argument of the last GetIfTable call (-1 before any) and how often GetAdaptersInfo was asked.
using SetFakeIpHelperFunction = void (*)(const FakeIpHelper* machine);
using LastIfTableOrderFunction = LONG (*)();
using AdapterListCallsFunction = LONG (*)();
