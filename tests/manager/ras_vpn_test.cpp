// Remote Access through a manager fed by the IP Helper and Remote Access doubles: the phone-book
// pass on each Windows version as Wine reports it, and the RAS VPN plug-in that reads its ports.
#include <gtest/gtest.h>

#include <linkset/linkset.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "machine.h"
#include "manager/dialup_discovery.h"
#include "manager_harness.h"
#include "recording_log.h"
#include "sources/logon_user_impersonator.h"
#include "test_service.h"
#include "vpn/client_plugins.h"

namespace {

// The connection record has Windows 2000's layout there and the packed one elsewhere; the other is
// refused. NT before Windows 2000 without "RasMan" has no Remote Access; Windows 98 runs the
// passes without impersonating. The nine entries: the first listing answers 603, names alike but
// for case, device types in any case, one connected under its exact name and one under another
// case, one growing between the size query and the read, one whose read is refused.
TEST(DialUpDiscovery, PhoneBookPortsStandInFrontAndAVpnLinkMarksItsPppPort) {
    const std::string version = ChildArgument();
    if (version.empty()) {
        for (const char* v : {"win2k", "winxp", "win7", "nt40", "win98"})
            ExpectChildPasses({.windowsVersion = v, .dllOverrides = {{"iphlpapi", "native,builtin"}, {"rasapi32", "native,builtin"}},
                               .childArgument = v});
        return;
    }
    const bool nt4 = version == "nt40";
    TestService::Remove("RasMan");  // the machine has none, even if a run that died left one
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{E}", MIB_IF_TYPE_ETHERNET, 1, "10.0.0.1"), MakeAdapter("{P1}", MIB_IF_TYPE_PPP, 2, "10.8.0.5"),
                                 MakeAdapter("{P2}", MIB_IF_TYPE_PPP, 3, "10.8.0.5")};
    machine.ras = FakeRas{{{"Office", "vpn"}, {"Home DSL", "PPPoE"}, {"Dial-in", "MODEM"}, {"Tunnel", "VPN"}, {"Backup", "isdn"},
                           {"Lab", "vpn", RasEntryFault::GrowsBeforeRead}, {"Broken", "vpn", RasEntryFault::ReadFails},
                           {"Twin", "vpn"}, {"TWIN", "modem"}},
                          {{"Office", "vpn", "10.8.0.5"}, {"TUNNEL", "modem", ""}}};
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    ManagerOnMachine on(machine);
    on.probe.Tick(1);  // the adapter and the phone-book pass
    const std::vector<PORT_INFO> ports = Ports(on.manager);

    std::vector<std::pair<std::string, uint32_t>> phoneBook = {{"TWIN", 0},   {"Broken", 0},  {"Lab", 1},     {"Backup", 1},
                                                               {"Tunnel", 1}, {"Dial-in", 0}, {"Home DSL", 0}};  // name, VPN mark
    std::vector<std::string> lines = {"RasGetEntryProperties compain buffer is too small, buffer needed is 2948\n",
                                      "ERROR: when get device type error code 5\n", "<LinkSetMgr>: GetRAsDeviceType: failed to ras device type\n"};
    if (nt4) phoneBook.clear(), lines = {"miniras: RAS was not installed.\n"};
    ASSERT_EQ(ports.size(), phoneBook.size() + 3);
    std::vector<std::pair<std::string, uint32_t>> front;  // the rest of an entry's record is checked on random machines
    for (std::size_t i = 0; i < phoneBook.size(); ++i) front.emplace_back(ports[i].ConnectionName, ports[i].IsVpnDevice);
    EXPECT_EQ(front, phoneBook);
    // Only the first PPP port holding the link's address in the pass's own list, where each went
    // to the front: the later adapter.
    const PORT_INFO* p2 = &ports[phoneBook.size() + 1];
    EXPECT_STREQ(p2->AdapterName, "{P2}");
    EXPECT_EQ(std::pair(p2[-1].IsVpnDevice, p2->IsVpnDevice), std::pair(0u, nt4 ? 0u : 1u));

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

}  // namespace
