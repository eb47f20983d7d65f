// The RAS VPN plug-in on a manager fed by the IP Helper and Remote Access doubles: what it finds
// depends on the ports when it is built, and it rescans only on its 1st, 6th, 11th ... update.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "machine.h"
#include "manager_harness.h"
#include "vpn/client_plugins.h"

namespace {

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
    plugIn.GetName(&name);
    plugIn.GetDescription(&description);
    return std::to_string(plugIn.IsConnected()) + " " + name.c_str() + " / " + description.c_str();
}

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
