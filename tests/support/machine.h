// A made-up machine: one value that says what IP Helper, the registry, the wireless LAN service
// and Remote Access of the test's process answer. MachineScope installs it into the doubles and
// the private prefix's registry for its scope and takes it away again.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fake_ip_helper.h"
#include "fake_ras.h"
#include "registry_scenario.h"
#include "system/handles.h"

struct Machine {
    FakeIpHelper ipHelper;
    // Adapter GUID and the name the network connections folder gives it.
    std::vector<std::pair<std::string, std::string>> connectionNames;
    // Adapter GUID and the description the network-card records hold (read before Vista).
    std::vector<std::pair<std::string, std::string>> networkCards;
    // GUIDs of the interfaces the wireless LAN double lists.
    std::vector<std::string> wirelessInterfaces;
    // The phone book and active connections; when set, the Remote Access double must be the
    // rasapi32.dll this process loads (beside it, with the load order rasapi32=n,b).
    std::optional<FakeRas> ras;
};

class MachineScope {
public:
    // The IP Helper double must be the iphlpapi.dll this process loads (the executable lies
    // beside it and runs with the load order iphlpapi=n,b); the constructor fails the test if not.
    explicit MachineScope(const Machine& machine);
    ~MachineScope();
    MachineScope(const MachineScope&) = delete;
    MachineScope& operator=(const MachineScope&) = delete;

    // Replaces what IP Helper answers, keeping the rest of the machine.
    void SetIpHelper(const FakeIpHelper& ipHelper);
    // Replaces what Remote Access answers.
    void SetRas(const FakeRas& ras);

private:
    RegistryScenario m_registry;
    UniqueModule m_ipHelper;
    UniqueModule m_ras;
};

// A made-up adapter of `type` with one address and its mask.
FakeAdapter MakeAdapter(const std::string& name, UINT type, DWORD index, const std::string& address,
                        const std::string& description = "Ethernet adapter");
