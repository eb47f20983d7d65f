// Adapter discovery end to end: a made-up machine, adapter passes of a manager, and the records a
// host then receives. Port order, address lists and their cap are checked on random machines.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "child_process.h"
#include "machine.h"
#include "manager/adapter_discovery.h"
#include "manager_harness.h"

namespace {

uint32_t Ip(const char* text) { return ParseDottedAddress(text); }

// The records of one adapter pass of a fresh manager on `machine`, by adapter name; root-enumerated
// network devices "Root device <i>" describe the adapters named in `rootDevices`.
std::map<std::string, PORT_INFO> Discover(const Machine& machine, const std::vector<std::string>& rootDevices = {}) {
    ManagerOnMachine on(machine);
    const std::string classKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\{LinkSetTestNet}";
    RegistryScenario registry({classKey});
    for (std::size_t i = 0; i < rootDevices.size(); ++i) {
        const std::string instance = "\\000" + std::to_string(i);
        registry.SetString("SYSTEM\\CurrentControlSet\\Enum\\Root\\NET" + instance, "Driver", "{LinkSetTestNet}" + instance);
        registry.SetString("SYSTEM\\CurrentControlSet\\Enum\\Root\\NET" + instance, "FriendlyName", "Root device " + std::to_string(i));
        registry.SetString(classKey + instance, "NetCfgInstanceId", rootDevices[i]);
    }
    on.probe.AdapterPass();
    std::map<std::string, PORT_INFO> ports;
    for (const PORT_INFO& port : Ports(on.manager)) ports[port.AdapterName] = port;
    EXPECT_EQ(ports.size(), machine.ipHelper.adapters.size());
    return ports;
}

TEST(AdapterDiscovery, RecordsCarryTypeNameMacDhcpAndServersWithinTheirRooms) {
    FakeAdapter busy = MakeAdapter("{B1}", MIB_IF_TYPE_ETHERNET, 8, "10.1.0.1");
    busy.addresses = {{"10.1.0.1", "255.255.0.0"}};
    busy.mac = {1, 2, 3, 4, 5, 6, 7, 8};  // more than a port holds
    busy.dhcpEnabled = 1, busy.dhcpServer = "10.1.0.250";
    busy.haveWins = true, busy.primaryWins = {"0.0.0.0"}, busy.secondaryWins = {"10.1.0.9", ""};  // an unset primary takes no place
    busy.dns = {"0.0.0.0", "", "8.8.8.8"};  // "0.0.0.0" is kept as 0, an empty text is skipped
    FakeAdapter bare = MakeAdapter("{B2}", MIB_IF_TYPE_ETHERNET, 9, "0.0.0.0");
    bare.mac = {0xAA, 0xBB, 0xCC, 0xDD};
    bare.dhcpServer = "10.1.0.250", bare.primaryWins = {"10.1.0.8"};  // ignored while DHCP is off, and without HaveWins
    FakeAdapter full = MakeAdapter("{B3}", MIB_IF_TYPE_ETHERNET, 10, "10.3.0.1");
    full.haveWins = true, full.primaryWins = {"10.3.0.8", "10.3.0.9"}, full.secondaryWins = {"10.3.0.10"};  // goes on at position 2
    FakeAdapter crowded = MakeAdapter("{B4}", MIB_IF_TYPE_ETHERNET, 11, "10.4.0.1");
    crowded.haveWins = true, crowded.primaryWins = std::vector<std::string>(250, "10.4.0.8"), crowded.secondaryWins = {"10.4.0.9"};
    crowded.dns = std::vector<std::string>(250, "10.4.0.53");
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{E1}", MIB_IF_TYPE_ETHERNET, 1, "10.0.0.1", "Intel PRO/1000"),
                                 MakeAdapter("{C1}", MIB_IF_TYPE_ETHERNET, 2, "10.0.0.2", "Cisco Systems VPN Adapter"),
                                 MakeAdapter("{C2}", MIB_IF_TYPE_ETHERNET, 3, "10.0.0.3", "cisco lookalike"),
                                 MakeAdapter("{T1}", MIB_IF_TYPE_TOKENRING, 4, "10.0.0.4"), MakeAdapter("{P1}", MIB_IF_TYPE_PPP, 5, "10.0.0.5"),
                                 MakeAdapter("{F1}", IF_TYPE_IEEE1394, 6, "10.0.0.6"), MakeAdapter("{O1}", IF_TYPE_IEEE80211, 7, "10.0.0.7"),
                                 busy, bare, full, crowded};
    machine.connectionNames = {{"{E1}", "Office LAN"}};
    std::map<std::string, PORT_INFO> ports = Discover(machine);
    const std::tuple<const char*, uint32_t, const char*> rows[] = {  // unregistered, the connection takes the adapter's name
        {"{E1}", PORT_TYPE_ETHERNET, "Office LAN"}, {"{C1}", PORT_TYPE_CISCO_VPN, "{C1}"}, {"{C2}", PORT_TYPE_ETHERNET, "{C2}"},
        {"{T1}", PORT_TYPE_TOKENRING, "{T1}"},      {"{P1}", PORT_TYPE_DIALUP, "{P1}"},     {"{F1}", PORT_TYPE_IEEE1394, "{F1}"},
        {"{O1}", PORT_TYPE_OTHER, "{O1}"}};
    for (const auto& [adapter, type, connection] : rows) {
        EXPECT_EQ(std::tuple(ports[adapter].PortType, ports[adapter].IsDialUp), std::tuple(type, type == PORT_TYPE_DIALUP)) << adapter;
        EXPECT_STREQ(ports[adapter].ConnectionName, connection);
    }
    const auto mac = [](const PORT_INFO& port) { return std::vector<int>(port.MacAddress, port.MacAddress + 6); };
    const PORT_INFO &b = ports["{B1}"], &n = ports["{B2}"], &f = ports["{B3}"], &c = ports["{B4}"];
    EXPECT_EQ(mac(b), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(std::tuple(b.IpMask, b.DhcpEnabled, b.DhcpServer, b.WinsServerCount, b.WinsServers[0].Address, b.DnsServerCount,
                         b.DnsServers[0].Address, b.DnsServers[1].Address),
              std::tuple(Ip("255.255.0.0"), 1u, Ip("10.1.0.250"), 1u, Ip("10.1.0.9"), 2u, 0u, Ip("8.8.8.8")));
    EXPECT_EQ(mac(n), (std::vector<int>{0xAA, 0xBB, 0xCC, 0xDD, 0, 0}));
    // An adapter without an address still lists one, as 0.
    EXPECT_EQ(std::tuple(n.IpAddressCount, n.IpAddress + n.HasIpAddress + n.HasGateway + n.DhcpServer + n.WinsServerCount + n.DnsServerCount),
              std::tuple(1u, 0u));
    EXPECT_EQ(std::tuple(f.WinsServerCount, f.WinsServers[2].Address), std::tuple(3u, Ip("10.3.0.10")));
    EXPECT_EQ(std::tuple(c.WinsServerCount, c.WinsServers[199].Address, c.DnsServerCount), std::tuple(200u, Ip("10.4.0.8"), 200u));
}

TEST(AdapterDiscovery, PppPortsNamedAlikeAreOneAndAddresslessOnesDoNotPileUp) {
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{AB-CD}", MIB_IF_TYPE_PPP, 1, "10.2.0.1"), MakeAdapter("{ab-cd}", MIB_IF_TYPE_PPP, 2, "10.2.0.2"),
                                 MakeAdapter("{EE}", MIB_IF_TYPE_ETHERNET, 3, "10.2.0.3"), MakeAdapter("{ee}", MIB_IF_TYPE_ETHERNET, 4, "10.2.0.4"),
                                 MakeAdapter("{DIALING}", MIB_IF_TYPE_PPP, 5, "0.0.0.0")};
    machine.connectionNames = {{"{AB-CD}", ""}};  // a dial-up port without a connection name is matched by its adapter's
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

// The change count moves when the sum of the first addresses moves, and a failing call gives an
// empty pass of sum 0: the adapter ports go, phone-book entries stay. Unreadable DNS data costs
// only the DNS servers.
TEST(AdapterDiscovery, TheChangeCountFollowsTheAddressSumAndAFailingCallEmptiesThePass) {
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{S1}", MIB_IF_TYPE_ETHERNET, 1, "10.4.0.1"), MakeAdapter("{S2}", MIB_IF_TYPE_ETHERNET, 2, "10.4.0.2")};
    ManagerOnMachine on(machine);
    std::vector<FakeAdapter>& adapters = machine.ipHelper.adapters;
    const std::tuple<const char*, std::function<void()>, uint32_t> steps[] = {
        {"first pass", [] {}, 1},
        {"addresses swapped", [&] { std::swap(adapters[0].addresses, adapters[1].addresses); }, 1},
        {"an address moved", [&] { adapters[0].addresses = {{"10.4.0.9", "255.255.255.0"}}; }, 2},
        {"no adapters left", [&] { adapters.clear(); }, 3}};
    for (const auto& [step, change, changeCount] : steps) {
        change();
        on.scope.SetIpHelper(machine.ipHelper);
        on.probe.AdapterPass();
        EXPECT_EQ(on.manager.GetChangeCount(), changeCount) << step;
        EXPECT_EQ(Ports(on.manager).size(), adapters.size()) << step;
    }
    const std::tuple<const char*, IpHelperFault, bool, size_t> failures[] = {
        {"interface table", IpHelperFault::InterfaceTable, false, 1}, {"second adapter read", IpHelperFault::AdapterListRead, false, 1},
        {"binding unloaded", IpHelperFault::None, true, 1},           {"per-adapter data", IpHelperFault::PerAdapterInfo, false, 2}};
    for (const auto& [name, fault, unloaded, count] : failures) {
        SCOPED_TRACE(name);
        FakeAdapter adapter = MakeAdapter("{F}", MIB_IF_TYPE_ETHERNET, 1, "10.6.0.1");
        adapter.dns = {"10.6.0.53"};
        Machine machine;
        machine.ipHelper = {{adapter}, fault};
        ManagerOnMachine failing(machine);
        failing.probe.SetPorts({PhoneBookEntry("entry"), MakePort(PORT_TYPE_ETHERNET, "old", Ip("10.6.0.9"))});
        if (unloaded) failing.probe.UnloadIpHelper();
        failing.probe.AdapterPass();
        const std::vector<PORT_INFO> ports = Ports(failing.manager);
        ASSERT_EQ(ports.size(), count);
        EXPECT_STREQ(ports[0].ConnectionName, "entry");
        EXPECT_EQ(ports.back().DnsServerCount, 0u);
        EXPECT_EQ(failing.manager.GetChangeCount(), 1u);  // the sum moved from 1, to 0 or to the address
    }
}

// Before Vista the description comes from the first 16 network cards and root-enumerated devices.
// The wireless rule comes last and wins over every type: with the wireless LAN service (XP SP3) its
// list alone decides, without it (Windows 2000, XP x64 at SP2) an 802.11 link speed.
TEST(AdapterDiscovery, WirelessAndRegistryDescriptionsBeforeVista) {
    const std::string version = ChildArgument();
    if (version.empty()) {
        for (const char* v : {"winxp", "win2k", "winxp64"})
            ExpectChildPasses({.windowsVersion = v, .dllOverrides = {{"iphlpapi", "native,builtin"}, {"wlanapi", "native"}},
                               .systemDouble = WinePath(DOUBLES_DIR "/wlanapi_double/wlanapi.dll"), .childArgument = v});
        return;
    }
    // The wireless LAN service names interfaces by GUID, so these adapters carry real ones.
    const std::string w54 = "{00000054-0000-4000-8000-000000000001}", w100 = "{00000100-0000-4000-8000-000000000002}",
                      wc = "{0000000C-0000-4000-8000-000000000003}", wp = "{0000000D-0000-4000-8000-000000000004}";
    Machine machine;
    machine.networkCards = {{w100, std::string(255, 'd')}}, machine.wirelessInterfaces = {w100};
    for (int i = 0; i < 14; ++i) machine.networkCards.emplace_back("{card " + std::to_string(i) + "}", "card");  // 15 cards
    machine.ipHelper.adapters = {MakeAdapter(w54, MIB_IF_TYPE_ETHERNET, 1, "10.5.0.1"), MakeAdapter(w100, MIB_IF_TYPE_ETHERNET, 2, "10.5.0.2", "NIC"),
                                 MakeAdapter(wc, MIB_IF_TYPE_ETHERNET, 3, "10.5.0.3", "Cisco VPN"), MakeAdapter(wp, MIB_IF_TYPE_PPP, 4, "10.5.0.4"),
                                 MakeAdapter("{R0}", MIB_IF_TYPE_ETHERNET, 5, "10.5.0.5"), MakeAdapter("{R1}", MIB_IF_TYPE_ETHERNET, 6, "10.5.0.6")};
    for (const auto& [i, speed] : {std::pair{0, 54000000}, {2, 11000000}, {3, 1000000}}) machine.ipHelper.adapters[i].speed = speed;
    std::map<std::string, PORT_INFO> ports = Discover(machine, {"{R0}", "{R1}"});
    for (const auto& [adapter, xp, w2k] : {std::tuple{w54, PORT_TYPE_ETHERNET, PORT_TYPE_WIRELESS}, {w100, PORT_TYPE_WIRELESS, PORT_TYPE_ETHERNET},
                                          {wc, PORT_TYPE_CISCO_VPN, PORT_TYPE_WIRELESS}, {wp, PORT_TYPE_DIALUP, PORT_TYPE_WIRELESS}})
        EXPECT_EQ(ports[adapter].PortType, version == "winxp" ? xp : w2k) << adapter;
    EXPECT_EQ(ports[wp].IsDialUp, 1u);
    EXPECT_EQ(ports[w100].Description, std::string(131, 'd'));  // cut to the field
    EXPECT_STREQ(ports["{R0}"].Description, "Root device 0");  // the 16th entry describes
    EXPECT_STREQ(ports["{R1}"].Description, "Ethernet adapter");  // the 17th does not
}

}  // namespace
