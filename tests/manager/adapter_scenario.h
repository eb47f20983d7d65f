// Machines made up by a test: the adapters that the scenario IP Helper double reports.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <string>
#include <utility>
#include <vector>

#include "system/handles.h"

struct FakeAdapter {
    std::string name;         // "{GUID}"
    std::string description;
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

// Installs `adapters` as what the double answers, for the scope. The double must be the
// iphlpapi.dll this process loads (run with WINEDLLOVERRIDES iphlpapi=n,b beside it).
class AdapterScenario {
public:
    explicit AdapterScenario(std::vector<FakeAdapter> adapters);
    ~AdapterScenario();
    AdapterScenario(const AdapterScenario&) = delete;
    AdapterScenario& operator=(const AdapterScenario&) = delete;

    // False when this process did not get the double (no override, or not beside the exe).
    bool UsesDouble() const { return m_usesDouble; }

private:
    UniqueModule m_double;
    bool m_usesDouble = false;
};
