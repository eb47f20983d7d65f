// A manager on seeded ports and made-up machines: passes, queries, VPN answers, ticks, failures, shutdown.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <climits>
#include <map>
#include <optional>

#include "boundary/exception.h"
#include "import_patch.h"
#include "manager_harness.h"
#include "recording_log.h"
#include "sources/logon_user_impersonator.h"
#include "test_service.h"
#include "vpn/client_plugins.h"
#include "vpn/vpn_detector.h"
#include "../vpn/vpn_traces.h"

namespace {

using namespace std::string_literals;

uint32_t Ip(const char* text) { return ParseDottedAddress(text); }

// One adapter pass's records by adapter name; root network device "Root device <i>" names rootDevices[i].
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
    // More MAC bytes than a port holds; an unset primary WINS takes no place; a DNS "0.0.0.0" is kept as 0, an empty one skipped.
    const FakeAdapter busy = {.name = "{B1}", .index = 8, .mac = {1, 2, 3, 4, 5, 6, 7, 8}, .dhcpEnabled = 1, .dhcpServer = "10.1.0.250",
                              .addresses = {{"10.1.0.1", "255.255.0.0"}}, .haveWins = true, .primaryWins = {"0.0.0.0"},
                              .secondaryWins = {"10.1.0.9", ""}, .dns = {"0.0.0.0", "", "8.8.8.8"}};
    const FakeAdapter bare = {.name = "{B2}", .index = 9, .mac = {0xAA, 0xBB, 0xCC, 0xDD}, .dhcpServer = "10.1.0.250",  // DHCP off
                              .addresses = {{"0.0.0.0", "255.255.255.0"}}, .primaryWins = {"10.1.0.8"}};  // without HaveWins
    const FakeAdapter full = {.name = "{B3}", .index = 10, .addresses = {{"10.3.0.1", "255.255.255.0"}}, .haveWins = true,
                              .primaryWins = {"10.3.0.8", "10.3.0.9"}, .secondaryWins = {"10.3.0.10"}};  // goes on at position 2
    const FakeAdapter crowded = {.name = "{B4}", .index = 11, .addresses = {{"10.4.0.1", "255.255.255.0"}}, .haveWins = true,
                                 .primaryWins = std::vector<std::string>(250, "10.4.0.8"), .secondaryWins = {"10.4.0.9"},
                                 .dns = std::vector<std::string>(250, "10.4.0.53")};
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
    for (const auto& [adapter, type, connection] : rows)
        EXPECT_EQ(std::tuple(ports[adapter].PortType, ports[adapter].IsDialUp, ports[adapter].ConnectionName),
                  std::tuple(type, type == PORT_TYPE_DIALUP, std::string(connection))) << adapter;
    const auto mac = [](const PORT_INFO& port) { return std::vector<int>(port.MacAddress, port.MacAddress + 6); };
    const PORT_INFO &b = ports["{B1}"], &n = ports["{B2}"], &f = ports["{B3}"], &c = ports["{B4}"];
    EXPECT_EQ(std::tuple(mac(b), mac(n)), std::tuple(std::vector<int>{1, 2, 3, 4, 5, 6}, std::vector<int>{0xAA, 0xBB, 0xCC, 0xDD, 0, 0}));
    EXPECT_EQ(std::tuple(b.IpMask, b.DhcpEnabled, b.DhcpServer, b.WinsServerCount, b.WinsServers[0].Address, b.DnsServerCount,
                         b.DnsServers[0].Address, b.DnsServers[1].Address),
              std::tuple(Ip("255.255.0.0"), 1u, Ip("10.1.0.250"), 1u, Ip("10.1.0.9"), 2u, 0u, Ip("8.8.8.8")));
    EXPECT_EQ(std::tuple(n.IpAddressCount, n.IpAddress + n.HasIpAddress + n.HasGateway + n.DhcpServer + n.WinsServerCount + n.DnsServerCount),
              std::tuple(1u, 0u));  // an adapter without an address still lists one, as 0
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
    on.probe.SetPorts({MakePort(PORT_TYPE_DIALUP, "Office VPN", 0)});
    for (int pass = 0; pass < 3; ++pass) {
        on.probe.AdapterPass();
        const std::vector<PORT_INFO> ports = Ports(on.manager);
        ASSERT_EQ(ports.size(), 5u) << "pass " << pass;  // Ethernet adapters are never merged
        // The PPP ports (the later one's data), the entry behind them, then the others.
        EXPECT_EQ(std::tuple(ports[0].IpAddress, ports[1].AdapterName, ports[2].ConnectionName, ports[3].AdapterName),
                  std::tuple(Ip("10.2.0.2"), "{DIALING}"s, "Office VPN"s, "{EE}"s));
    }
}

// The change count follows the first addresses' sum; a failed call keeps only entries, bad DNS data only the DNS.
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
        EXPECT_EQ(std::pair(on.manager.GetChangeCount(), Ports(on.manager).size()), std::pair(changeCount, adapters.size())) << step;
    }
    const std::tuple<const char*, IpHelperFault, bool, size_t> failures[] = {
        {"interface table", IpHelperFault::InterfaceTable, false, 1}, {"second adapter read", IpHelperFault::AdapterListRead, false, 1},
        {"binding unloaded", IpHelperFault::None, true, 1},           {"per-adapter data", IpHelperFault::PerAdapterInfo, false, 2}};
    for (const auto& [name, fault, unloaded, count] : failures) {
        SCOPED_TRACE(name);
        FakeAdapter adapter = MakeAdapter("{F}", MIB_IF_TYPE_ETHERNET, 1, "10.6.0.1");
        adapter.dns = {"10.6.0.53"};
        machine.ipHelper = {{adapter}, fault};
        ManagerOnMachine failing(machine);
        failing.probe.SetPorts({MakePort(PORT_TYPE_DIALUP, "entry", 0), MakePort(PORT_TYPE_ETHERNET, "old", Ip("10.6.0.9"))});
        if (unloaded) failing.probe.UnloadIpHelper();
        failing.probe.AdapterPass();
        const std::vector<PORT_INFO> ports = Ports(failing.manager);
        ASSERT_EQ(ports.size(), count);
        EXPECT_EQ(std::tuple(ports[0].ConnectionName, ports.back().DnsServerCount, failing.manager.GetChangeCount()),
                  std::tuple("entry"s, 0u, 1u));  // the sum moved from 1, to 0 or to the address
    }
}

// Before Vista the first 16 cards and root devices describe; wireless beats any type (XP SP3: WLAN list, else speed).
TEST(AdapterDiscovery, WirelessAndRegistryDescriptionsBeforeVista) {
    const std::string version = ChildArgument();
    if (version.empty()) {
        for (const char* v : {"winxp", "win2k", "winxp64"})
            ExpectChildPasses({.windowsVersion = v, .dllOverrides = {{"iphlpapi", "native,builtin"}, {"wlanapi", "native"}},
                               .systemDouble = WinePath(DOUBLES_DIR "/wlanapi_double/wlanapi.dll"), .childArgument = v});
        return;
    }
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
    EXPECT_EQ(std::tuple(ports[wp].IsDialUp, ports[w100].Description, ports["{R0}"].Description, ports["{R1}"].Description),
              std::tuple(1u, std::string(131, 'd'), "Root device 0"s, "Ethernet adapter"s));  // cut; the 16th entry describes, the 17th not
}

// Per version its own record layout (the double refuses others); NT 4 needs "RasMan", 98 cannot impersonate.
TEST(DialUpDiscovery, PhoneBookPortsStandInFrontAndAVpnLinkMarksItsPppPort) {
    const std::string version = ChildArgument();
    if (version.empty()) {
        for (const char* v : {"win2k", "winxp", "win7", "nt40", "win98"})
            ExpectChildPasses({.windowsVersion = v, .dllOverrides = {{"iphlpapi", "native,builtin"}, {"rasapi32", "native,builtin"}},
                               .childArgument = v});
        return;
    }
    TestService::Remove("RasMan");  // even one a run that died left
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{E}", MIB_IF_TYPE_ETHERNET, 1, "10.0.0.1"), MakeAdapter("{P1}", MIB_IF_TYPE_PPP, 2, "10.8.0.5"),
                                 MakeAdapter("{P2}", MIB_IF_TYPE_PPP, 3, "10.8.0.5")};
    machine.ras = FakeRas{{{"Office", "vpn"}, {"Home DSL", "PPPoE"}, {"Dial-in", "MODEM"}, {"Tunnel", "VPN"}, {"Backup", "isdn"},
                           {"Lab", "vpn", RasEntryFault::GrowsBeforeRead}, {"Broken", "vpn", RasEntryFault::ReadFails},
                           {"Twin", "vpn"}, {"TWIN", "modem"}},
                          {{"Office", "vpn", "10.8.0.5"}, {"TUNNEL", "modem", ""}}};
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    std::vector<std::string> lines = {"RasGetEntryProperties compain buffer is too small, buffer needed is 2948\n",
                                      "ERROR: when get device type error code 5\n", "<LinkSetMgr>: GetRAsDeviceType: failed to ras device type\n"};
    std::optional<TestService> rasMan;
    ManagerOnMachine on(machine);
    if (version == "nt40") {  // no Remote Access until "RasMan" runs
        on.probe.Tick(1);
        EXPECT_EQ(Ports(on.manager).size(), 3u);
        EXPECT_EQ(log.Lines(), std::vector<std::string>{"miniras: RAS was not installed.\n"});
        log.Clear();
        rasMan.emplace("RasMan", TestService::Behaviour::Runs).Start();
        lines.insert(lines.begin(), {"Waiting for RAS service  ", "done\n"});
    }
    on.probe.Tick(3601);  // the adapter and the phone-book pass
    const std::vector<PORT_INFO> ports = Ports(on.manager);

    const std::vector<std::pair<std::string, uint32_t>> phoneBook = {{"TWIN", 0},   {"Broken", 0},  {"Lab", 1},     {"Backup", 1},
                                                                     {"Tunnel", 1}, {"Dial-in", 0}, {"Home DSL", 0}};  // name, VPN mark
    ASSERT_EQ(ports.size(), phoneBook.size() + 3);
    for (std::size_t i = 0; i < phoneBook.size(); ++i) {  // the whole record: a shorter name leaves nothing behind
        PORT_INFO entry = MakePort(PORT_TYPE_DIALUP, phoneBook[i].first.c_str(), 0);
        entry.IsVpnDevice = phoneBook[i].second;
        EXPECT_EQ(std::memcmp(&ports[i], &entry, sizeof entry), 0) << phoneBook[i].first;
    }
    // Only the first PPP port holding the link's address in the pass's own list: the later adapter.
    const PORT_INFO* p2 = &ports[phoneBook.size() + 1];
    EXPECT_EQ(std::tuple(p2->AdapterName, p2[-1].IsVpnDevice, p2->IsVpnDevice), std::tuple("{P2}"s, 0u, 1u));

    if (version == "win98") {
        EXPECT_EQ(LogonUserImpersonator().Impersonate(), -1);
        lines.push_back("LogonUserImpersonator: wrong OS type.\n");
    }
    EXPECT_EQ(log.Lines(), lines);
}

// VPN links (a named PPP adapter holding the address of a connection over a "vpn" device), and entries.
Machine Links(const std::vector<std::pair<std::string, std::string>>& links, std::vector<FakeRasEntry> book = {}) {
    Machine machine;
    machine.ras = FakeRas{std::move(book), {}};
    for (const auto& [name, address] : links) {
        const std::string guid = "{" + name + "}";
        machine.ipHelper.adapters.push_back(MakeAdapter(guid, MIB_IF_TYPE_PPP, machine.ipHelper.adapters.size() + 1, address, name + " miniport"));
        machine.connectionNames.emplace_back(guid, name);
        machine.ras->connections.push_back({name, "vpn", address});
    }
    return machine;
}

std::string Texts(IVPNPlugIn& plugIn) {
    outputstr name, description;
    plugIn.GetName(&name), plugIn.GetDescription(&description);
    return std::to_string(plugIn.IsConnected()) + " " + name.c_str() + " / " + description.c_str();
}

// What the plug-in finds depends on the ports when it is built; it rescans on its 1st, 6th, 11th ... update.
TEST(RasVpnThroughTheManager, FollowsTheFirstVpnPortIfOneWasThereWhenBuilt) {
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    std::optional<MachineScope> scope;
    const auto install = [&](const Machine& machine) {
        scope.emplace(machine);  // the previous machine's scope ends first
        ManagerProbe(manager).Tick(1);  // the adapter pass with the connections, and the phone book
    };
    install(Links({}));
    CRasVpnPlugIn late(&manager);  // no VPN port yet: this one never looks again
    const Machine office = Links({{"Office VPN", "10.8.0.2"}});
    install(office);
    CRasVpnPlugIn early(&manager);
    const struct { const char* name; Machine machine; int updates; const char* texts; } rows[] = {
        {"found at once", office, 0, "1 Office VPN / Office VPN miniport"},
        {"the first update rescans", Links({{"Renamed VPN", "10.8.0.3"}}), 1, "1 Renamed VPN / Renamed VPN miniport"},
        {"the next four do not", office, 4, "1 Renamed VPN / Renamed VPN miniport"},
        {"the fifth after them does", office, 1, "1 Office VPN / Office VPN miniport"},
        {"gone from the ports: answer and texts stay", Links({}), 5, "1 Office VPN / Office VPN miniport"},
        {"two VPN ports: the first wins", Links({{"Lab VPN", "10.9.0.2"}, {"Home VPN", "10.8.0.2"}}), 5, "1 Lab VPN / Lab VPN miniport"},
        {"a VPN port without an address", Links({}, {{"Dial VPN", "vpn"}}), 5, "0 Dial VPN / "}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        install(row.machine);
        for (int update = 0; update < row.updates; ++update) early.Update(), late.Update();
        EXPECT_EQ(std::pair(Texts(early), Texts(late)), std::pair(std::string(row.texts), "0  / "s));
    }
}

FakeIpHelper AdaptersWith(const char* description, bool addressed = true, int before = 0) {
    FakeIpHelper ipHelper;
    for (int i = 0; i < before; ++i) ipHelper.adapters.push_back(MakeAdapter("{" + std::to_string(i) + "}", MIB_IF_TYPE_ETHERNET, i + 1, "10.1.0.1"));
    ipHelper.adapters.push_back(MakeAdapter("{J}", MIB_IF_TYPE_ETHERNET, before + 1, addressed ? "10.9.0.2" : "0.0.0.0", description));
    return ipHelper;
}

// In a child, where the plug-in classes' counts start afresh.
TEST(VpnThroughTheManager, PacingOfEachKindAndTheJuniperAdapter) {
    if (ChildArgument().empty()) return ExpectChildPasses({.dllOverrides = {{"iphlpapi", "native,builtin"}, {"rasapi32", "native,builtin"}}});
    RegistryScenario registry({kCiscoKey, kCheckpointKey, kAventailKey, kJuniperKey32BitView, "SOFTWARE\\Juniper networks"});
    ManagerOnMachine on{Machine{}};
    ASSERT_EQ(on.manager.OpenVPNDetector(1), LS_OK);
    const auto Status = [&](EPLUGINTYPE kind) { uint32_t status = 2; on.manager.CheckVPNStatus(kind, &status); return status; };  // 2: failed
    // Every trace is up for the third update only: the answers after each show which updates worked.
    constexpr char kTunnelAdapter[] = "Juniper Network Connect Virtual Adapter";
    registry.CreateKey(kJuniperKey32BitView);
    std::string seen;
    for (bool up : {false, false, true, false, false, false}) {
        SetTunnelValues(registry, up, up, up);
        on.scope.SetIpHelper(AdaptersWith(kTunnelAdapter, up));
        on.probe.Tick(1);  // an adapter tick: the adapter pass, then the detector's update
        seen += ' ';
        for (EPLUGINTYPE kind : {PLUGIN_CHECKPOINT, PLUGIN_CISCO3000, PLUGIN_AVENTAIL, PLUGIN_JUNIPERSSL, PLUGIN_ALCATEL})
            seen += std::to_string(Status(kind));
    }
    EXPECT_EQ(seen, " 00000 00000 11110 01110 00010 00000");  // Check Point, Cisco 3000, Aventail, Juniper, Alcatel

    const struct { const char* name; const char* key; FakeIpHelper ipHelper; uint32_t want; } rows[] = {
        {"description that begins with the adapter text", kJuniperKey32BitView, AdaptersWith("Juniper Network Connect Virtual Adapter #2"), 1},
        {"description in other letter case", kJuniperKey32BitView, AdaptersWith("JUNIPER Network Connect Virtual Adapter"), 0},
        {"adapter as the 16th port", kJuniperKey32BitView, AdaptersWith(kTunnelAdapter, true, 15), 1},
        {"adapter as the 17th port", kJuniperKey32BitView, AdaptersWith(kTunnelAdapter, true, 16), 0},
        {"key outside Wow6432Node only", "SOFTWARE\\Juniper networks\\Network Connect", AdaptersWith(kTunnelAdapter), 0}};
    for (const auto& row : rows) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kJuniperKey32BitView);
        registry.CreateKey(row.key);
        on.scope.SetIpHelper(row.ipHelper);
        for (int update = 0; update < 3; ++update) on.probe.Tick(1);  // one update in three works
        EXPECT_EQ(Status(PLUGIN_JUNIPERSSL), row.want) << row.name;
    }
}

// Filters count every passing port and copy what fits; address queries read the first 32 addressed ports.
TEST(ManagerQueries, FiltersCountEveryPortAndAddressQueriesTellTheNumberNeeded) {
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    ManagerProbe probe(manager);
    probe.SetPorts({MakePort(PORT_TYPE_ETHERNET, "a", Ip("10.0.0.1"), Ip("10.0.0.254")), MakePort(PORT_TYPE_ETHERNET, "b", Ip("10.0.0.2")),
                    MakePort(PORT_TYPE_DIALUP, "c", 0), MakePort(PORT_TYPE_WIRELESS, "d", Ip("10.0.0.4"), Ip("10.0.0.254")),
                    MakePort(PORT_TYPE_ETHERNET, "e", Ip("10.0.0.5"))});
    uint32_t copied = 99, total = 99;
    EXPECT_EQ(manager.GetPorts(nullptr, 0, &copied, nullptr, 0), LS_ERROR_FAILED);  // a null copied count: reference host
    EXPECT_EQ(copied, 99u);  // a refused call leaves the count alone
    constexpr uint32_t kRecord = sizeof(PORT_INFO);
    const std::tuple<int32_t, uint32_t, uint32_t, uint32_t, std::string> rows[] = {  // filter, bytes, copied, total, 2nd copied
        {PORT_FILTER_ALL, 0, 0, 5, ""}, {7, 2 * kRecord + 100, 2, 5, "b"},  // 7 passes everything
        {PORT_FILTER_HAS_ADDRESS, 3 * kRecord, 3, 4, "b"}, {PORT_FILTER_HAS_GATEWAY, 3 * kRecord, 2, 2, "d"}};
    for (const auto& [filter, bytes, wantCopied, wantTotal, second] : rows) {
        std::vector<PORT_INFO> buffer(3);
        EXPECT_EQ(manager.GetPorts(bytes ? buffer.data() : nullptr, bytes, &copied, &total, filter), LS_OK);
        EXPECT_EQ(std::tuple(copied, total, std::string(buffer[1].ConnectionName)), std::tuple(wantCopied, wantTotal, second)) << filter;
    }
    const auto withServers = [](PORT_INFO port, std::vector<const char*> dns, std::vector<const char*> wins) {
        for (const char* address : dns) port.DnsServers[port.DnsServerCount++].Address = Ip(address);
        for (const char* address : wins) port.WinsServers[port.WinsServerCount++].Address = Ip(address);
        return port;
    };
    probe.SetPorts({withServers(MakePort(PORT_TYPE_ETHERNET, "a", Ip("10.0.0.1"), Ip("10.0.0.254")), {"8.8.8.8", "8.8.4.4"}, {"10.0.0.9"}),
                    MakePort(PORT_TYPE_DIALUP, "entry", 0), withServers(MakePort(PORT_TYPE_ETHERNET, "b", Ip("10.0.0.2")), {"1.1.1.1"}, {})});
    const std::pair<decltype(&ILinkSetManager::GetGateways), std::vector<uint32_t>> queries[] = {
        {&ILinkSetManager::GetGateways, {Ip("10.0.0.254"), 0}},  // addressed ports only; a missing gateway is a 0
        {&ILinkSetManager::GetDnsServers, {Ip("8.8.8.8"), Ip("8.8.4.4"), Ip("1.1.1.1")}},
        {&ILinkSetManager::GetWinsServers, {Ip("10.0.0.9")}}};
    uint32_t count = 99;
    for (const auto& [query, want] : queries) {
        std::vector<uint32_t> got(want.size());
        EXPECT_EQ((manager.*query)(got.data(), want.size() * 4 - 1, &count), LS_ERROR_BUFFER_TOO_SMALL);
        EXPECT_EQ(count, want.size());  // what a too-small array is told it needs
        EXPECT_EQ((manager.*query)(got.data(), count * 4, &count), LS_OK);
        EXPECT_EQ(got, want);
    }
    probe.SetPorts(std::vector<PORT_INFO>(40, MakePort(PORT_TYPE_ETHERNET, "p", 1, 0x01010101)));
    EXPECT_EQ(manager.GetGateways(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 32u);
    uint32_t none[1] = {};  // no servers: a real array succeeds with none, a null one is still too small
    EXPECT_EQ(manager.GetWinsServers(none, sizeof none, &count), LS_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(manager.GetWinsServers(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
}

// Plain text is read without scanf, yet every text must read as scanf's "%ld.%ld.%ld.%ld" does (65535 refused).
TEST(ParseDottedAddress, ReadsEveryTextAsScanfDoes) {
    const std::pair<const char*, uint32_t> rows[] = {  // address in network order
        {"192.168.1.20", 0x1401A8C0}, {"001.255.0.10", 0x0A00FF01}, {"999.1.1.1", 0x010101E7},
        {"1.2.3.1234", 0xD2030201},   {"1.2.3.4 ", 0x04030201},     {" 1.2.3.4", 0x04030201},
        {"-1.2.3.4", 0x040302FF},     {"1.2..4", 0},                {"1.2.3.65535", 0},       {"", 0}};
    for (const auto& [text, address] : rows) EXPECT_EQ(ParseDottedAddress(text), address) << '"' << text << '"';
}

constexpr DWORD kBoundMs = 20000;  // a wait this long means the thing under test hangs

// A plug-in whose Update runs what the test sets, inside the manager's locks; its life goes to the journal.
std::function<void()> g_onUpdate;
std::atomic<int> g_updates{0};
std::string g_journal;

class HookPlugIn final : public IVPNPlugIn {
public:
    HookPlugIn() { g_journal += "built;"; }
    ~HookPlugIn() override { g_journal += "deleted;"; }
    int32_t GetName(outputstr*) override { return kPlugInNoText; }
    int32_t GetDescription(outputstr*) override { return kPlugInNoText; }
    uint32_t GetType() override { return PLUGIN_CISCO3000; }
    void Update() override { ++g_updates; if (g_onUpdate) g_onUpdate(); }
    uint32_t IsConnected() override { return 0; }
};
constexpr PlugInClass kHookCatalog[] = {{PLUGIN_CISCO3000, &MakePlugIn<HookPlugIn>}};

struct Cycle : ::testing::Test {
    void SetUp() override { g_updates = 0, g_onUpdate = nullptr, g_journal.clear(), g_refreshTick = 0; }

    using OwnedManager = std::unique_ptr<CLinkSetManager, void (*)(CLinkSetManager*)>;  // deleted as the DLL does, through slot 0
    // A manager whose maintenance thread is inside its first tick, in the plug-in's Update, doing `rest`.
    OwnedManager InsideATick(std::function<void()> rest) {
        g_onUpdate = [this, rest] { SetEvent(entered.get()); rest(); };
        OwnedManager manager(new CLinkSetManager(CLinkSetManager::Start::WithMaintenanceThread, kHookCatalog),
                             [](CLinkSetManager* m) { m->DeletingDestructor(LINKSET_DELETE_MEMORY); });
        EXPECT_EQ(manager->OpenVPNDetector(1), LS_OK);
        EXPECT_EQ(WaitForSingleObject(entered.get(), kBoundMs), WAIT_OBJECT_0);
        return manager;
    }

    RecordingDebugLog log;
    ScopedDebugLog installed{log, &LsSetDebugOutput};
    UniqueHandle entered{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

// Tick % 10 == 1: adapter pass and detector update; the phone book too on % 3600 == 1 or after a changed pass.
TEST_F(Cycle, PassesAndDetectorUpdateRunOnTheirTicksOnly) {
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{A}", MIB_IF_TYPE_ETHERNET, 1, "10.7.0.1")}, machine.ras = FakeRas{};
    MachineScope scope(machine);
    const auto adapterListCalls = ResolveEntryPoint<AdapterListCallsFunction>(GetModuleHandleA("iphlpapi.dll"), "AdapterListCalls");
    const auto phoneBookListings = ResolveEntryPoint<PhoneBookListingsFunction>(GetModuleHandleA("rasapi32.dll"), "PhoneBookListings");
    ASSERT_TRUE(adapterListCalls && phoneBookListings);
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread, kHookCatalog);
    ASSERT_EQ(manager.OpenVPNDetector(1), LS_OK);
    const struct { int32_t tick; const char* address; bool adapterPass, phoneBookPass; } ticks[] = {
        {1, "10.7.0.1", true, true},    {2, "10.7.0.1", false, false},  {10, "10.7.0.2", false, false},
        {11, "10.7.0.2", true, true},   {21, "10.7.0.2", true, false},  {3600, "10.7.0.2", false, false},
        {3601, "10.7.0.2", true, true}, {-9, "10.7.0.2", false, false}, {INT_MAX, "10.7.0.3", false, false}};
    for (const auto& row : ticks) {
        SCOPED_TRACE(row.tick);  // the adapter has row.address from this tick on
        machine.ipHelper.adapters[0].addresses = {{row.address, "255.255.255.0"}};
        scope.SetIpHelper(machine.ipHelper);
        const LONG calls = adapterListCalls(), listings = phoneBookListings(), updates = g_updates;
        ManagerProbe(manager).Tick(row.tick);
        EXPECT_EQ(std::tuple(adapterListCalls() != calls, phoneBookListings() != listings, g_updates - updates),
                  std::tuple(row.adapterPass, row.phoneBookPass, row.adapterPass ? 1 : 0)) << "adapter pass, phone-book pass, updates";
    }
}

TEST_F(Cycle, FailedTicksAreReportedAndTheCycleGoesOn) {
    g_onUpdate = [] {
        g_refreshTick = 0;  // every tick of this test is an adapter tick
        const int call = g_updates;
        if (call == 1) throw CreateQndException(outputstr("scripted failure"), "test", 1);
        if (call <= 3) throw std::runtime_error("out of something");  // the same failure twice
    };
    CLinkSetManager manager(CLinkSetManager::Start::WithMaintenanceThread, kHookCatalog);
    ASSERT_EQ(manager.OpenVPNDetector(1), LS_OK);
    for (DWORD waited = 0; waited < kBoundMs && g_updates < 5; waited += 20) Sleep(20);
    ASSERT_GE(g_updates, 5);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"=======EXCEPTION: QndException ==== \nReason Code: 0, Reason:scripted failure\n",
                                                     "<LinkSetMgr>: maintenance tick failed; the cycle goes on.\n"}));
}

// A delete waits for a running tick before the plug-ins go, but a stuck one only StopThread's grace (30 s, cut here).
DWORD(WINAPI* g_realWait)(HANDLE, DWORD) = nullptr;
DWORD WINAPI ShortWait(HANDLE handle, DWORD milliseconds) { return g_realWait(handle, milliseconds == 30000 ? 300 : milliseconds); }

TEST_F(Cycle, DeleteWaitsForARunningTickButDoesNotHangOnAStuckOne) {
    InsideATick([] { Sleep(300), g_journal += "tick ended;"; }).reset();
    EXPECT_EQ(g_journal, "built;tick ended;deleted;");
    ResetEvent(entered.get());
    UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OwnedManager manager = InsideATick([&never] { WaitForSingleObject(never.get(), INFINITE); });
    ImportPatch shortStop(ThisExecutable(), "KERNEL32.dll", "WaitForSingleObject", &ShortWait, &g_realWait);
    TestThread deleter([&manager] { manager.reset(); });
    EXPECT_TRUE(deleter.Join(kBoundMs)) << "deleting a manager stuck in its tick hangs";
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"This thread is active! It will be terminated!\n"});
}

// The detector takes its own configuration back as a new one: it must read it before deleting it.
TEST_F(Cycle, TheDetectorReadsItsOwnConfigurationBeforeReplacingIt) {
    struct NotedConfig final : CVPNConfig {
        ~NotedConfig() override { g_journal += "config deleted;"; }
        IVPNConfig* CreateConfig() const override { return new NotedConfig; }
    } config;
    config.EnablePlugIn(PLUGIN_CISCO3000, true);
    CVPNDetector detector(nullptr, kHookCatalog);
    detector.SetConfig(&config);
    g_journal.clear();
    EXPECT_EQ(detector.SetConfig(detector.GetConfig()), LS_OK);
    EXPECT_EQ(g_journal, "deleted;built;config deleted;");
}

}  // namespace
