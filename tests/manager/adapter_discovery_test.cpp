// Adapter discovery end to end: a made-up machine, one adapter pass of a manager, and the
// records a host then receives.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "child_process.h"
#include "machine.h"
#include "manager/adapter_discovery.h"
#include "manager_harness.h"

namespace {

uint32_t Ip(const char* text) { return ParseDottedAddress(text); }

// One adapter pass of a fresh manager on `machine`.
std::vector<PORT_INFO> Discover(const Machine& machine) {
    ManagerOnMachine on(machine);
    on.probe.AdapterPass();
    return Ports(on.manager);
}

const PORT_INFO& Find(const std::vector<PORT_INFO>& ports, const std::string& adapterName) {
    for (const PORT_INFO& port : ports)
        if (port.AdapterName == adapterName) return port;
    static const PORT_INFO none = {};
    ADD_FAILURE() << "no port of " << adapterName;
    return none;
}

TEST(AdapterDiscovery, TypesOrderAndNamesComeFromTheAdapters) {
    Machine machine;
    machine.ipHelper.adapters = {
        MakeAdapter("{E1}", MIB_IF_TYPE_ETHERNET, 1, "10.0.0.1", "Intel PRO/1000"),
        MakeAdapter("{C1}", MIB_IF_TYPE_ETHERNET, 2, "10.0.0.2", "Cisco Systems VPN Adapter"),
        MakeAdapter("{C2}", MIB_IF_TYPE_ETHERNET, 3, "10.0.0.3", "cisco lookalike"),
        MakeAdapter("{T1}", MIB_IF_TYPE_TOKENRING, 4, "10.0.0.4"),
        MakeAdapter("{P1}", MIB_IF_TYPE_PPP, 5, "10.0.0.5", "WAN (PPP/SLIP) Interface"),
        MakeAdapter("{F1}", IF_TYPE_IEEE1394, 6, "10.0.0.6"),
        MakeAdapter("{O1}", IF_TYPE_IEEE80211, 7, "10.0.0.7"),
    };
    machine.connectionNames = {{"{E1}", "Office LAN"}};
    const std::vector<PORT_INFO> ports = Discover(machine);
    ASSERT_EQ(ports.size(), 7u);
    EXPECT_STREQ(ports[0].AdapterName, "{P1}");  // dial-up first, the rest in adapter order
    EXPECT_STREQ(ports[1].AdapterName, "{E1}");
    const struct { const char* adapter; uint32_t type; const char* connection; } rows[] = {
        {"{E1}", PORT_TYPE_ETHERNET, "Office LAN"}, {"{C1}", PORT_TYPE_CISCO_VPN, "{C1}"}, {"{C2}", PORT_TYPE_ETHERNET, "{C2}"},
        {"{T1}", PORT_TYPE_TOKENRING, "{T1}"},      {"{P1}", PORT_TYPE_DIALUP, "{P1}"},     {"{F1}", PORT_TYPE_IEEE1394, "{F1}"},
        {"{O1}", PORT_TYPE_OTHER, "{O1}"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.adapter);
        const PORT_INFO& port = Find(ports, row.adapter);
        EXPECT_EQ(port.PortType, row.type);
        EXPECT_EQ(port.IsDialUp, row.type == PORT_TYPE_DIALUP ? 1u : 0u);
        EXPECT_STREQ(port.ConnectionName, row.connection);  // unregistered: the adapter name
    }
}

TEST(AdapterDiscovery, FillsAddressesGatewayMacDhcpWinsAndDnsWithinTheirRooms) {
    FakeAdapter busy = MakeAdapter("{B1}", MIB_IF_TYPE_ETHERNET, 1, "10.1.0.1");
    busy.addresses.clear();
    for (int i = 0; i < 250; ++i)
        busy.addresses.push_back({"10.1." + std::to_string(i / 100) + "." + std::to_string(i % 100 + 1), "255.255.0.0"});
    busy.gateways = {"10.1.0.254", "10.1.0.253"};
    busy.mac = {1, 2, 3, 4, 5, 6, 7, 8};  // more than a port holds
    busy.dhcpEnabled = 1;
    busy.dhcpServer = "10.1.0.250";
    busy.haveWins = true;
    busy.primaryWins = {"0.0.0.0"};  // unset: the secondary still starts at position 0
    busy.secondaryWins = {"10.1.0.9", ""};
    busy.dns = {"0.0.0.0", "", "8.8.8.8"};

    FakeAdapter bare = MakeAdapter("{B2}", MIB_IF_TYPE_ETHERNET, 2, "0.0.0.0");
    bare.mac = {0xAA, 0xBB, 0xCC, 0xDD};
    bare.dhcpServer = "10.1.0.250";  // ignored while DHCP is off
    bare.primaryWins = {"10.1.0.8"};  // ignored without HaveWins

    FakeAdapter full = MakeAdapter("{B3}", MIB_IF_TYPE_ETHERNET, 3, "10.3.0.1");
    full.haveWins = true;
    full.primaryWins = {"10.3.0.8", "10.3.0.9"};
    full.secondaryWins = {"10.3.0.10"};  // goes on at position 2
    FakeAdapter crowded = MakeAdapter("{B4}", MIB_IF_TYPE_ETHERNET, 4, "10.4.0.1");
    crowded.haveWins = true;
    crowded.primaryWins = std::vector<std::string>(250, "10.4.0.8");
    crowded.secondaryWins = {"10.4.0.9"};  // no room left
    crowded.dns = std::vector<std::string>(250, "10.4.0.53");

    Machine machine;
    machine.ipHelper.adapters = {busy, bare, full, crowded};
    const std::vector<PORT_INFO> ports = Discover(machine);
    ASSERT_EQ(ports.size(), 4u);
    const auto mac = [](const PORT_INFO& port) { return std::vector<int>(port.MacAddress, port.MacAddress + 6); };
    // The address list, its cap and the first gateway are checked on random machines too.
    const PORT_INFO& b = ports[0];
    EXPECT_EQ(b.IpMask, Ip("255.255.0.0"));
    EXPECT_EQ(mac(b), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(b.DhcpEnabled, 1u);
    EXPECT_EQ(b.DhcpServer, Ip("10.1.0.250"));
    ASSERT_EQ(b.WinsServerCount, 1u);
    EXPECT_EQ(b.WinsServers[0].Address, Ip("10.1.0.9"));
    ASSERT_EQ(b.DnsServerCount, 2u);  // "0.0.0.0" is kept as 0, an empty text is skipped
    EXPECT_EQ(b.DnsServers[0].Address, 0u);
    EXPECT_EQ(b.DnsServers[1].Address, Ip("8.8.8.8"));

    const PORT_INFO& n = ports[1];
    EXPECT_EQ(n.IpAddressCount, 1u);  // an adapter without an address still lists one, as 0
    EXPECT_EQ(n.IpAddress + n.HasIpAddress + n.HasGateway + n.DhcpServer + n.WinsServerCount + n.DnsServerCount, 0u);
    EXPECT_EQ(mac(n), (std::vector<int>{0xAA, 0xBB, 0xCC, 0xDD, 0, 0}));

    ASSERT_EQ(ports[2].WinsServerCount, 3u);
    EXPECT_EQ(ports[2].WinsServers[2].Address, Ip("10.3.0.10"));
    EXPECT_EQ(ports[3].WinsServerCount, 200u);
    EXPECT_EQ(ports[3].WinsServers[199].Address, Ip("10.4.0.8"));
    EXPECT_EQ(ports[3].DnsServerCount, 200u);
}

TEST(AdapterDiscovery, PppPortsNamedAlikeAreOneAndAddresslessOnesDoNotPileUp) {
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{AB-CD}", MIB_IF_TYPE_PPP, 1, "10.2.0.1"),
                                 MakeAdapter("{ab-cd}", MIB_IF_TYPE_PPP, 2, "10.2.0.2"),
                                 MakeAdapter("{EE}", MIB_IF_TYPE_ETHERNET, 3, "10.2.0.3"),
                                 MakeAdapter("{ee}", MIB_IF_TYPE_ETHERNET, 4, "10.2.0.4"),
                                 MakeAdapter("{DIALING}", MIB_IF_TYPE_PPP, 5, "0.0.0.0")};
    ManagerOnMachine on(machine);
    on.probe.SetPorts({PhoneBookEntry("Office VPN")});
    for (int pass = 0; pass < 3; ++pass) {
        on.probe.AdapterPass();
        const std::vector<PORT_INFO> ports = Ports(on.manager);
        ASSERT_EQ(ports.size(), 5u) << "pass " << pass;  // Ethernet adapters are never merged
        EXPECT_EQ(ports[0].IpAddress, Ip("10.2.0.2"));    // the later one's data
        EXPECT_STREQ(ports[1].AdapterName, "{DIALING}");
        EXPECT_STREQ(ports[2].ConnectionName, "Office VPN");  // the phone-book entry stays, behind the PPP ports
        EXPECT_STREQ(ports[3].AdapterName, "{EE}");
    }
}

TEST(AdapterDiscovery, TheChangeCountMovesOnlyWhenTheSumOfFirstAddressesMoves) {
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{S1}", MIB_IF_TYPE_ETHERNET, 1, "10.4.0.1"),
                                 MakeAdapter("{S2}", MIB_IF_TYPE_ETHERNET, 2, "10.4.0.2")};
    ManagerOnMachine on(machine);
    std::vector<FakeAdapter>& adapters = machine.ipHelper.adapters;
    const struct { const char* step; std::function<void()> change; uint32_t changeCount; } steps[] = {
        {"first pass", [] {}, 1},
        {"addresses swapped", [&] { std::swap(adapters[0].addresses, adapters[1].addresses); }, 1},
        {"an address moved", [&] { adapters[0].addresses = {{"10.4.0.9", "255.255.255.0"}}; }, 2},
        {"no adapters left", [&] { adapters.clear(); }, 3},  // the sum 0 is a change again
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        step.change();
        on.scope.SetIpHelper(machine.ipHelper);
        on.probe.AdapterPass();
        EXPECT_EQ(on.manager.GetChangeCount(), step.changeCount);
        EXPECT_EQ(Ports(on.manager).size(), adapters.size());
    }
}

// A call that fails gives an empty pass: the adapter ports go, phone-book entries stay, and the
// signature becomes 0. DNS data that cannot be read costs only the DNS servers.
TEST(AdapterDiscovery, AFailingCallEmptiesThePassButKeepsThePhoneBook) {
    const struct { const char* name; IpHelperFault fault; bool unloaded; size_t ports; } rows[] = {
        {"interface table", IpHelperFault::InterfaceTable, false, 1},
        {"second adapter read", IpHelperFault::AdapterListRead, false, 1},
        {"binding unloaded", IpHelperFault::None, true, 1},
        {"per-adapter data", IpHelperFault::PerAdapterInfo, false, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeAdapter adapter = MakeAdapter("{F}", MIB_IF_TYPE_ETHERNET, 1, "10.6.0.1");
        adapter.dns = {"10.6.0.53"};
        Machine machine;
        machine.ipHelper = {{adapter}, row.fault};
        ManagerOnMachine on(machine);
        on.probe.SetPorts({PhoneBookEntry("entry"), MakePort(PORT_TYPE_ETHERNET, "old", Ip("10.6.0.9"))});
        if (row.unloaded) on.probe.UnloadIpHelper();
        on.probe.AdapterPass();
        const std::vector<PORT_INFO> ports = Ports(on.manager);
        ASSERT_EQ(ports.size(), row.ports);
        EXPECT_STREQ(ports[0].ConnectionName, "entry");
        EXPECT_EQ(ports.back().DnsServerCount, 0u);
        EXPECT_EQ(on.manager.GetChangeCount(), 1u);  // the signature moved from 1, to 0 or to the address
    }
}

// Before Vista the description comes from the registry's network cards. The wireless rule comes
// last and wins over every type: with the wireless LAN service (XP), its list alone decides;
// without it (Windows 2000), an 802.11 link speed.
TEST(AdapterDiscovery, WirelessAndRegistryDescriptionsBeforeVista) {
    const std::string version = ChildArgument();
    if (version.empty()) {
        for (const char* v : {"winxp", "win2k"})
            ExpectChildPasses({.windowsVersion = v, .dllOverrides = {{"iphlpapi", "native,builtin"}, {"wlanapi", "native"}},
                               .systemDouble = WinePath(DOUBLES_DIR "/wlanapi_double/wlanapi.dll"), .childArgument = v});
        return;
    }
    const bool withService = version == "winxp";
    // The wireless LAN service names interfaces by GUID, so these adapters carry real ones.
    const std::string w54 = "{00000054-0000-4000-8000-000000000001}", w100 = "{00000100-0000-4000-8000-000000000002}",
                      wc = "{0000000C-0000-4000-8000-000000000003}", wp = "{0000000D-0000-4000-8000-000000000004}";
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter(w54, MIB_IF_TYPE_ETHERNET, 1, "10.5.0.1"),
                                 MakeAdapter(w100, MIB_IF_TYPE_ETHERNET, 2, "10.5.0.2", "NIC"),
                                 MakeAdapter(wc, MIB_IF_TYPE_ETHERNET, 3, "10.5.0.3", "Cisco VPN"),
                                 MakeAdapter(wp, MIB_IF_TYPE_PPP, 4, "10.5.0.4")};
    for (const auto& [i, speed] : {std::pair{0, 54000000}, {2, 11000000}, {3, 1000000}}) machine.ipHelper.adapters[i].speed = speed;
    machine.wirelessInterfaces = {w100};
    machine.networkCards = {{w100, std::string(255, 'd')}};
    const std::vector<PORT_INFO> ports = Discover(machine);
    ASSERT_EQ(ports.size(), 4u);
    // The type with the wireless LAN service, and without it.
    for (const auto& [adapter, xp, w2k] : {std::tuple{w54, PORT_TYPE_ETHERNET, PORT_TYPE_WIRELESS},
                                          {w100, PORT_TYPE_WIRELESS, PORT_TYPE_ETHERNET},
                                          {wc, PORT_TYPE_CISCO_VPN, PORT_TYPE_WIRELESS},
                                          {wp, PORT_TYPE_DIALUP, PORT_TYPE_WIRELESS}})
        EXPECT_EQ(Find(ports, adapter).PortType, withService ? xp : w2k) << adapter;
    EXPECT_EQ(Find(ports, wp).IsDialUp, 1u);
    EXPECT_EQ(Find(ports, w100).Description, std::string(131, 'd'));  // cut to the field
}

}  // namespace
