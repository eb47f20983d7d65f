// Adapter discovery end to end: a made-up machine behind the scenario IP Helper double, one
// adapter pass of a manager, and the records a host then receives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter_scenario.h"
#include "child_process.h"
#include "manager/adapter_discovery.h"
#include "manager_probe.h"
#include "registry_scenario.h"

namespace {

uint32_t Ip(const char* text) { return ParseDottedAddress(text); }

FakeAdapter Adapter(const char* name, UINT type, DWORD index, const char* address, const char* description = "NIC") {
    FakeAdapter made;
    made.name = name;
    made.type = type;
    made.index = index;
    made.description = description;
    made.addresses = {{address, "255.255.255.0"}};
    return made;
}

std::vector<PORT_INFO> Ports(CLinkSetManager& manager) {
    uint32_t copied = 0, total = 0;
    manager.GetPorts(nullptr, 0, &copied, &total, PORT_FILTER_ALL);
    std::vector<PORT_INFO> ports(total);
    manager.GetPorts(ports.data(), static_cast<uint32_t>(total * sizeof(PORT_INFO)), &copied, &total, PORT_FILTER_ALL);
    return ports;
}

// One adapter pass of a fresh manager over `adapters`.
std::vector<PORT_INFO> Discover(std::vector<FakeAdapter> adapters) {
    AdapterScenario scenario(std::move(adapters));
    EXPECT_TRUE(scenario.UsesDouble()) << "the IP Helper double was not loaded";
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    g_refreshTick = 0;  // the next tick is an adapter tick
    manager.Refresh();
    return Ports(manager);
}

const PORT_INFO* Find(const std::vector<PORT_INFO>& ports, const char* adapterName) {
    for (const PORT_INFO& port : ports)
        if (std::string(port.AdapterName) == adapterName) return &port;
    return nullptr;
}

TEST(AdapterDiscovery, TypesComeFromTheAdapterTypeAndTheCiscoRule) {
    const std::vector<PORT_INFO> ports = Discover({
        Adapter("{E1}", MIB_IF_TYPE_ETHERNET, 1, "10.0.0.1", "Intel PRO/1000"),
        Adapter("{C1}", MIB_IF_TYPE_ETHERNET, 2, "10.0.0.2", "Cisco Systems VPN Adapter"),
        Adapter("{C2}", MIB_IF_TYPE_ETHERNET, 3, "10.0.0.3", "cisco lookalike"),
        Adapter("{T1}", MIB_IF_TYPE_TOKENRING, 4, "10.0.0.4"),
        Adapter("{P1}", MIB_IF_TYPE_PPP, 5, "10.0.0.5", "WAN (PPP/SLIP) Interface"),
        Adapter("{F1}", IF_TYPE_IEEE1394, 6, "10.0.0.6"),
        Adapter("{O1}", IF_TYPE_IEEE80211, 7, "10.0.0.7"),
    });
    ASSERT_EQ(ports.size(), 7u);
    EXPECT_STREQ(ports[0].AdapterName, "{P1}");  // dial-up first, the rest in adapter order
    EXPECT_STREQ(ports[1].AdapterName, "{E1}");
    const std::pair<const char*, uint32_t> expected[] = {
        {"{E1}", PORT_TYPE_ETHERNET},  {"{C1}", PORT_TYPE_CISCO_VPN}, {"{C2}", PORT_TYPE_ETHERNET},
        {"{T1}", PORT_TYPE_TOKENRING}, {"{P1}", PORT_TYPE_DIALUP},    {"{F1}", PORT_TYPE_IEEE1394},
        {"{O1}", PORT_TYPE_OTHER}};
    for (const auto& [name, type] : expected) {
        const PORT_INFO* port = Find(ports, name);
        ASSERT_NE(port, nullptr) << name;
        EXPECT_EQ(port->PortType, type) << name;
        EXPECT_EQ(port->IsDialUp, type == PORT_TYPE_DIALUP ? 1u : 0u) << name;
        EXPECT_STREQ(port->ConnectionName, name);  // no connection name registered: the adapter name
    }
}

TEST(AdapterDiscovery, FillsAddressesGatewayMacDhcpWinsAndDns) {
    FakeAdapter busy = Adapter("{B1}", MIB_IF_TYPE_ETHERNET, 1, "10.1.0.1");
    busy.addresses.clear();
    for (int i = 0; i < 250; ++i) busy.addresses.push_back({"10.1." + std::to_string(i / 100) + "." + std::to_string(i % 100 + 1), "255.255.0.0"});
    busy.gateways = {"10.1.0.254", "10.1.0.253"};
    busy.mac = {1, 2, 3, 4, 5, 6, 7, 8};  // more than a port holds
    busy.dhcpEnabled = 1;
    busy.dhcpServer = "10.1.0.250";
    busy.haveWins = true;
    busy.primaryWins = {"0.0.0.0"};
    busy.secondaryWins = {"10.1.0.9", ""};
    busy.dns = {"0.0.0.0", "", "8.8.8.8"};

    FakeAdapter bare = Adapter("{B2}", MIB_IF_TYPE_ETHERNET, 2, "0.0.0.0");
    bare.mac = {0xAA, 0xBB, 0xCC, 0xDD};
    bare.dhcpServer = "10.1.0.250";  // ignored while DHCP is off
    bare.primaryWins = {"10.1.0.8"};  // ignored without HaveWins

    const std::vector<PORT_INFO> ports = Discover({busy, bare});
    ASSERT_EQ(ports.size(), 2u);
    const PORT_INFO& b = ports[0];
    EXPECT_EQ(b.IpAddressCount, 200u);
    EXPECT_EQ(b.IpAddress, Ip("10.1.0.1"));
    EXPECT_EQ(b.IpMask, Ip("255.255.0.0"));
    EXPECT_EQ(b.IpAddresses[199].Address, Ip("10.1.1.100"));
    EXPECT_EQ(b.Gateway, Ip("10.1.0.254"));
    EXPECT_EQ(b.HasIpAddress, 1u);
    EXPECT_EQ(b.HasGateway, 1u);
    EXPECT_EQ(std::vector<unsigned char>(b.MacAddress, b.MacAddress + 6), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(b.DhcpEnabled, 1u);
    EXPECT_EQ(b.DhcpServer, Ip("10.1.0.250"));
    ASSERT_EQ(b.WinsServerCount, 1u);  // an unset primary, then the secondary at position 0
    EXPECT_EQ(b.WinsServers[0].Address, Ip("10.1.0.9"));
    ASSERT_EQ(b.DnsServerCount, 2u);  // "0.0.0.0" is kept as 0, an empty text is skipped
    EXPECT_EQ(b.DnsServers[0].Address, 0u);
    EXPECT_EQ(b.DnsServers[1].Address, Ip("8.8.8.8"));

    const PORT_INFO& n = ports[1];
    EXPECT_EQ(n.IpAddressCount, 1u);  // an adapter without an address still lists one, as 0
    EXPECT_EQ(n.IpAddress, 0u);
    EXPECT_EQ(n.HasIpAddress, 0u);
    EXPECT_EQ(n.HasGateway, 0u);
    EXPECT_EQ(std::vector<unsigned char>(n.MacAddress, n.MacAddress + 6), (std::vector<unsigned char>{0xAA, 0xBB, 0xCC, 0xDD, 0, 0}));
    EXPECT_EQ(n.DhcpServer, 0u);
    EXPECT_EQ(n.WinsServerCount, 0u);
    EXPECT_EQ(n.DnsServerCount, 0u);
}

TEST(AdapterDiscovery, PppAdaptersNamedAlikeWithoutCaseBecomeOnePort) {
    const std::vector<PORT_INFO> ports = Discover({Adapter("{AB-CD}", MIB_IF_TYPE_PPP, 1, "10.2.0.1"),
                                                   Adapter("{ab-cd}", MIB_IF_TYPE_PPP, 2, "10.2.0.2"),
                                                   Adapter("{EE}", MIB_IF_TYPE_ETHERNET, 3, "10.2.0.3"),
                                                   Adapter("{ee}", MIB_IF_TYPE_ETHERNET, 4, "10.2.0.4")});
    ASSERT_EQ(ports.size(), 3u);  // Ethernet adapters are never merged
    EXPECT_EQ(ports[0].IpAddress, Ip("10.2.0.2"));  // the later one's data
}

TEST(AdapterDiscovery, ConnectionNamesComeFromTheRegistry) {
    const std::string adapterKey = "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\{NAMED}";
    RegistryScenario registry({adapterKey});
    registry.SetString(adapterKey + "\\Connection", "Name", "Office LAN");
    const std::vector<PORT_INFO> ports = Discover({Adapter("{NAMED}", MIB_IF_TYPE_ETHERNET, 1, "10.3.0.1")});
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_STREQ(ports[0].ConnectionName, "Office LAN");
}

TEST(AdapterDiscovery, TheSignatureMovesTheChangeCountOnlyWhenTheAddressSumMoves) {
    std::vector<FakeAdapter> adapters = {Adapter("{S1}", MIB_IF_TYPE_ETHERNET, 1, "10.4.0.1"),
                                         Adapter("{S2}", MIB_IF_TYPE_ETHERNET, 2, "10.4.0.2")};
    // One scenario at a time: a scenario's end clears what the double answers.
    std::unique_ptr<AdapterScenario> scenario;
    auto machine = [&](const std::vector<FakeAdapter>& now) {
        scenario.reset();
        scenario = std::make_unique<AdapterScenario>(now);
    };
    machine(adapters);
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    g_refreshTick = 0;
    manager.Refresh();
    EXPECT_EQ(manager.GetChangeCount(), 1u);

    std::swap(adapters[0].addresses, adapters[1].addresses);  // same sum of first addresses
    machine(adapters);
    g_refreshTick = 10;
    manager.Refresh();
    EXPECT_EQ(manager.GetChangeCount(), 1u);
    EXPECT_EQ(Ports(manager)[0].IpAddress, Ip("10.4.0.2"));  // the records are new all the same

    adapters[0].addresses = {{"10.4.0.9", "255.255.255.0"}};
    machine(adapters);
    g_refreshTick = 20;
    manager.Refresh();
    EXPECT_EQ(manager.GetChangeCount(), 2u);

    // A machine without adapters: no ports, signature 0, which is a change again.
    machine({});
    g_refreshTick = 30;
    manager.Refresh();
    EXPECT_EQ(manager.GetChangeCount(), 3u);
    EXPECT_TRUE(Ports(manager).empty());
}

// Without the wireless LAN service (Windows 2000 has none), an 802.11 link speed makes a port
// wireless, over every other type.
TEST(AdapterDiscoveryChild, WirelessBySpeedWithoutTheWlanService) {
    if (ChildArgument() != "win2k") GTEST_SKIP() << "runs only as a child";
    std::vector<FakeAdapter> adapters = {Adapter("{W54}", MIB_IF_TYPE_ETHERNET, 1, "10.5.0.1"),
                                         Adapter("{W100}", MIB_IF_TYPE_ETHERNET, 2, "10.5.0.2"),
                                         Adapter("{WC}", MIB_IF_TYPE_ETHERNET, 3, "10.5.0.3", "Cisco VPN"),
                                         Adapter("{WP}", MIB_IF_TYPE_PPP, 4, "10.5.0.4")};
    adapters[0].speed = 54000000;
    adapters[2].speed = 11000000;
    adapters[3].speed = 1000000;
    const std::vector<PORT_INFO> ports = Discover(adapters);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(Find(ports, "{W54}")->PortType, static_cast<uint32_t>(PORT_TYPE_WIRELESS));
    EXPECT_EQ(Find(ports, "{W100}")->PortType, static_cast<uint32_t>(PORT_TYPE_ETHERNET));
    EXPECT_EQ(Find(ports, "{WC}")->PortType, static_cast<uint32_t>(PORT_TYPE_WIRELESS));
    EXPECT_EQ(Find(ports, "{WP}")->PortType, static_cast<uint32_t>(PORT_TYPE_WIRELESS));
    EXPECT_EQ(Find(ports, "{WP}")->IsDialUp, 1u);
}

TEST(AdapterDiscovery, WirelessBySpeedWithoutTheWlanService) {
    const ChildRun run = RunAsWindowsVersion("win2k", "AdapterDiscoveryChild.*", "win2k");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
}

}  // namespace
