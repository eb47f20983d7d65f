// Remote Access and VPN answers through a manager fed by the IP Helper and Remote Access doubles:
// the phone-book pass per Windows version, the RAS VPN plug-in, the pacing of each kind, Juniper's adapter.
#include <gtest/gtest.h>

#include <linkset/linkset.h>

#include <optional>

#include "child_process.h"
#include "manager/dialup_discovery.h"
#include "manager_harness.h"
#include "recording_log.h"
#include "sources/logon_user_impersonator.h"
#include "test_service.h"
#include "vpn/client_plugins.h"
#include "../vpn/vpn_traces.h"

namespace {

// The connection record has Windows 2000's layout there and the packed one elsewhere. NT 4 uses
// Remote Access only with a running "RasMan"; Windows 98 runs the passes without impersonating.
// The entries: names alike but for case, device types in any case, connected under their exact
// name or another case, one growing between the size query and the read, one refused.
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
    std::vector<std::pair<std::string, uint32_t>> front;  // the rest of an entry's record is checked on random machines
    for (std::size_t i = 0; i < phoneBook.size(); ++i) front.emplace_back(ports[i].ConnectionName, ports[i].IsVpnDevice);
    EXPECT_EQ(front, phoneBook);
    // Only the first PPP port holding the link's address in the pass's own list: the later adapter.
    const PORT_INFO* p2 = &ports[phoneBook.size() + 1];
    EXPECT_STREQ(p2->AdapterName, "{P2}");
    EXPECT_EQ(std::pair(p2[-1].IsVpnDevice, p2->IsVpnDevice), std::pair(0u, 1u));

    PortList other;
    CCoreRtCriticalSectionEx lock;
    RefreshDialUpEntries(other, lock, version == "win2k" ? RasConnLayout::Other : RasConnLayout::Windows2000);
    EXPECT_TRUE(other.empty()) << "the other record layout is refused";
    if (version == "win98") {
        EXPECT_EQ(LogonUserImpersonator().Impersonate(), -1);
        lines.push_back("LogonUserImpersonator: wrong OS type.\n");
    }
    EXPECT_EQ(log.Lines(), lines);
}

// VPN links as discovery meets them (a PPP adapter named in the connections folder, holding the
// address of a connection over a "vpn" device), in IP Helper's order, and phone-book entries.
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
        EXPECT_EQ(Texts(early), row.texts);
        EXPECT_EQ(Texts(late), "0  / ");
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
    // Check Point: every update; Cisco 3000: its 1st, 3rd ...; Aventail: the process's 1st, 3rd ...;
    // Juniper: the process's 3rd, 6th ...; Alcatel: none.
    EXPECT_EQ(seen, " 00000 00000 11110 01110 00010 00000");

    const struct { const char* name; const char* key; FakeIpHelper ipHelper; uint32_t want; } rows[] = {
        {"adapter with an address", kJuniperKey32BitView, AdaptersWith(kTunnelAdapter), 1},
        {"adapter without an IPv4 address", kJuniperKey32BitView, AdaptersWith(kTunnelAdapter, false), 0},
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

}  // namespace
