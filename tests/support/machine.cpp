#include "machine.h"

#include <gtest/gtest.h>

#include "wlan_double.h"

namespace {

constexpr char kConnections[] =
    "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kNetworkCards[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr char kRootNetDevices[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\NET";

// Only the keys the machine speaks of are taken over; the rest of the prefix stays as it is.
std::vector<std::string> OwnedKeys(const Machine& machine) {
    std::vector<std::string> keys;
    for (const auto& [adapter, name] : machine.connectionNames) keys.push_back(std::string(kConnections) + "\\" + adapter);
    if (!machine.networkCards.empty()) keys.insert(keys.end(), {kNetworkCards, kRootNetDevices});
    return keys;
}

std::string JoinedGuids(const std::vector<std::string>& guids) {
    std::string joined;
    for (const std::string& guid : guids) joined += (joined.empty() ? "" : ",") + guid;
    return joined;
}

}  // namespace

MachineScope::MachineScope(const Machine& machine)
    : m_registry(OwnedKeys(machine)), m_ipHelper(LoadLibraryA("iphlpapi.dll")) {
    for (const auto& [adapter, name] : machine.connectionNames)
        m_registry.SetString(std::string(kConnections) + "\\" + adapter + "\\Connection", "Name", name);
    for (std::size_t i = 0; i < machine.networkCards.size(); ++i) {
        const std::string card = std::string(kNetworkCards) + "\\" + std::to_string(i);
        m_registry.SetString(card, "ServiceName", machine.networkCards[i].first);
        m_registry.SetString(card, "Description", machine.networkCards[i].second);
    }
    SetEnvironmentVariableA(kWlanDoubleVariable, JoinedGuids(machine.wirelessInterfaces).c_str());
    SetIpHelper(machine.ipHelper);
    if (machine.ras) SetRas(*machine.ras);
}

MachineScope::~MachineScope() {
    if (const auto set = ResolveEntryPoint<SetFakeIpHelperFunction>(m_ipHelper.get(), "SetFakeIpHelper")) set(nullptr);
    if (const auto set = ResolveEntryPoint<SetFakeRasFunction>(m_ras.get(), "SetFakeRas")) set(nullptr);
    SetEnvironmentVariableA(kWlanDoubleVariable, nullptr);
}

void MachineScope::SetIpHelper(const FakeIpHelper& ipHelper) {
    const auto set = ResolveEntryPoint<SetFakeIpHelperFunction>(m_ipHelper.get(), "SetFakeIpHelper");
    ASSERT_NE(set, nullptr) << "this process did not get the IP Helper double";
    set(&ipHelper);
}

void MachineScope::SetRas(const FakeRas& ras) {
    if (!m_ras) m_ras.reset(LoadLibraryA("rasapi32.dll"));
    const auto set = ResolveEntryPoint<SetFakeRasFunction>(m_ras.get(), "SetFakeRas");
    ASSERT_NE(set, nullptr) << "this process did not get the Remote Access double";
    set(&ras);
}

FakeAdapter MakeAdapter(const std::string& name, UINT type, DWORD index, const std::string& address,
                        const std::string& description) {
    FakeAdapter made;
    made.name = name;
    made.type = type;
    made.index = index;
    made.description = description;
    made.addresses = {{address, "255.255.255.0"}};
    return made;
}
