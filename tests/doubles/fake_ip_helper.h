// A made-up machine's IP Helper and Remote Access data, which SetFakeIpHelper and SetFakeRas copy.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iprtrmib.h>
#include <iptypes.h>

#include <string>
#include <utility>
#include <vector>

struct FakeAdapter {
    std::string name = "{0000FA4E-0000-4000-8000-000000000001}", description = "Ethernet adapter";
    UINT type = MIB_IF_TYPE_ETHERNET;
    DWORD index = 1;
    std::vector<BYTE> mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    UINT dhcpEnabled = 0;
    std::string dhcpServer = "";
    std::vector<std::pair<std::string, std::string>> addresses = {{"0.0.0.0", "0.0.0.0"}};  // address, mask
    std::vector<std::string> gateways = {""};
    bool haveWins = false;
    std::vector<std::string> primaryWins = {""}, secondaryWins = {""}, dns = {};
    DWORD speed = 100000000;  // bits per second in the interface table
};

// The call that fails as on a real system: GetAdaptersInfo's second (the list grew), GetIfTable, GetPerAdapterInfo.
enum class IpHelperFault { None, AdapterListRead, InterfaceTable, PerAdapterInfo };

struct FakeIpHelper { std::vector<FakeAdapter> adapters; IpHelperFault fault = IpHelperFault::None; };

// For linkset.exe: read at load, a tab-separated line per adapter: name, type, index, description, address, mask.
constexpr char kFakeIpHelperFileVariable[] = "LINKSET_FAKE_IP_HELPER";

// Exports: install a copy (null: no adapters); GetIfTable's last sort argument (-1: none); adapter listings.
using SetFakeIpHelperFunction = void (*)(const FakeIpHelper* machine);
typedef LONG (*LastIfTableOrderFunction)(), (*AdapterListCallsFunction)();

// Reading a Remote Access entry's properties: as asked, grown between size query and read, or denied.
enum class RasEntryFault { None, GrowsBeforeRead, ReadFails };

struct FakeRasEntry { std::string name, deviceType = "modem"; RasEntryFault fault = RasEntryFault::None; };
struct FakeRasConnection { std::string entryName, deviceType, ipAddress /* of its PPP IP projection */; };
struct FakeRas {
    std::vector<FakeRasEntry> phoneBook;  // the default phone book, in its order
    std::vector<FakeRasConnection> connections;
};

// Exports: install a copy (null: nothing); tell how often the book was listed.
using SetFakeRasFunction = void (*)(const FakeRas* machine);
using PhoneBookListingsFunction = LONG (*)();
