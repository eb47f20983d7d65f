// A made-up machine: what IP Helper, the registry, wireless LAN and Remote Access answer the process.
#pragma once

#include "fake_ip_helper.h"  // first: winsock2.h must come before windows.h

#include <gtest/gtest.h>

#include <optional>

#include "double_support.h"
#include "registry_scenario.h"

struct Machine {
    FakeIpHelper ipHelper;
    // Adapter GUID, and its connection name or (read before Vista) network-card description.
    std::vector<std::pair<std::string, std::string>> connectionNames, networkCards;
    std::vector<std::string> wirelessInterfaces;  // GUIDs the wireless LAN double lists
    // When set, this process's rasapi32.dll must be the double (beside it, load order n,b).
    std::optional<FakeRas> ras;
};

class MachineScope {
public:
    // Fails the test unless this process's iphlpapi.dll is the double (beside it, load order n,b).
    explicit MachineScope(const Machine& machine)
        : m_registry(OwnedKeys(machine)), m_ipHelper(LoadLibraryA("iphlpapi.dll")) {
        for (const auto& [adapter, name] : machine.connectionNames)
            m_registry.SetString(kConnections + adapter + "\\Connection", "Name", name);
        for (std::size_t i = 0; i < machine.networkCards.size(); ++i) {
            const std::string card = kNetworkCards + ("\\" + std::to_string(i));
            m_registry.SetString(card, "ServiceName", machine.networkCards[i].first);
            m_registry.SetString(card, "Description", machine.networkCards[i].second);
        }
        std::string guids;
        for (const std::string& guid : machine.wirelessInterfaces) guids += (guids.empty() ? "" : ",") + guid;
        SetEnvironmentVariableA(kWlanDoubleVariable, guids.c_str());
        SetIpHelper(machine.ipHelper);
        if (machine.ras) SetRas(*machine.ras);
    }
    ~MachineScope() {
        if (m_setIpHelper) m_setIpHelper(nullptr);
        if (m_setRas) m_setRas(nullptr);
        SetEnvironmentVariableA(kWlanDoubleVariable, nullptr);
    }

    // Replace what IP Helper or Remote Access answers, keeping the rest of the machine.
    void SetIpHelper(const FakeIpHelper& ipHelper) {
        ASSERT_NE(m_setIpHelper, nullptr) << "this process did not get the IP Helper double";
        m_setIpHelper(&ipHelper);
    }
    void SetRas(const FakeRas& ras) {
        if (!m_ras) m_ras.reset(LoadLibraryA("rasapi32.dll"));
        m_setRas = ResolveEntryPoint<SetFakeRasFunction>(m_ras.get(), "SetFakeRas");
        ASSERT_NE(m_setRas, nullptr) << "this process did not get the Remote Access double";
        m_setRas(&ras);
    }

private:
    static constexpr char kConnections[] =
        "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
    static constexpr char kNetworkCards[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
    // Only the keys the machine speaks of are taken over; the rest of the prefix stays as it is.
    static std::vector<std::string> OwnedKeys(const Machine& machine) {
        std::vector<std::string> keys;
        for (const auto& [adapter, name] : machine.connectionNames) keys.push_back(kConnections + adapter);
        if (!machine.networkCards.empty())
            keys.insert(keys.end(), {kNetworkCards, "SYSTEM\\CurrentControlSet\\Enum\\Root\\NET"});
        return keys;
    }
    RegistryScenario m_registry;
    UniqueModule m_ipHelper, m_ras;
    SetFakeIpHelperFunction m_setIpHelper =
        ResolveEntryPoint<SetFakeIpHelperFunction>(m_ipHelper.get(), "SetFakeIpHelper");
    SetFakeRasFunction m_setRas = nullptr;
};

inline FakeAdapter MakeAdapter(const std::string& name, UINT type, DWORD index, const std::string& address,
                               const std::string& description = "Ethernet adapter") {
    return {.name = name, .description = description, .type = type, .index = index,
            .addresses = {{address, "255.255.255.0"}}};
}
