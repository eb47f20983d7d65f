// VPN plug-ins through a real manager whose adapters come from the IP Helper double: the
// Juniper SSL client's adapter in the port list, and each kind's pacing as a host sees it.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "machine.h"
#include "manager_harness.h"
#include "vpn/trace_plugins.h"

namespace {

constexpr char kJuniperKey[] = "SOFTWARE\\Juniper networks\\Network Connect";
constexpr char kJuniperKey32BitView[] = "SOFTWARE\\Wow6432Node\\Juniper networks\\Network Connect";
constexpr char kTunnelAdapter[] = "Juniper Network Connect Virtual Adapter";
constexpr char kTunnelAddress[] = "10.9.0.2", kNoAddress[] = "0.0.0.0";

// `before` ordinary adapters, then the one described `description`.
Machine MachineWith(const char* description, const char* address, int before = 0) {
    Machine machine;
    for (int i = 0; i <= before; ++i)
        machine.ipHelper.adapters.push_back(MakeAdapter("{J" + std::to_string(i) + "}", MIB_IF_TYPE_ETHERNET, i + 1,
                                                        i < before ? "10.1.0." + std::to_string(i + 1) : address,
                                                        i < before ? "Ethernet adapter" : description));
    return machine;
}

struct JuniperCase {
    const char* name;
    const char* key;
    Machine machine;
    uint32_t want;
};
const JuniperCase kJuniperCases[] = {
    {"adapter with an address", kJuniperKey32BitView, MachineWith(kTunnelAdapter, kTunnelAddress), 1},
    {"adapter without an IPv4 address", kJuniperKey32BitView, MachineWith(kTunnelAdapter, kNoAddress), 0},
    {"description that begins with the adapter text", kJuniperKey32BitView, MachineWith("Juniper Network Connect Virtual Adapter #2", kTunnelAddress), 1},
    {"description in other letter case", kJuniperKey32BitView, MachineWith("JUNIPER Network Connect Virtual Adapter", kTunnelAddress), 0},
    {"adapter as the 16th port", kJuniperKey32BitView, MachineWith(kTunnelAdapter, kTunnelAddress, 15), 1},
    {"adapter as the 17th port", kJuniperKey32BitView, MachineWith(kTunnelAdapter, kTunnelAddress, 16), 0},
    {"key outside Wow6432Node only, on a 64-bit system", kJuniperKey, MachineWith(kTunnelAdapter, kTunnelAddress), 0},
};

TEST(JuniperSsl, FindsItsAdapterAmongTheFirstSixteenPorts) {
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    CJuniperSslVPNPlugIn plugIn(&manager);
    for (const JuniperCase& c : kJuniperCases) {
        SCOPED_TRACE(c.name);
        const MachineScope scope(c.machine);
        RegistryScenario registry({kJuniperKey, kJuniperKey32BitView});
        registry.CreateKey(c.key);
        ManagerProbe(manager).AdapterPass();
        for (int call = 0; call < 3; ++call) plugIn.Update();  // one call in three works
        EXPECT_EQ(plugIn.IsConnected(), c.want);
    }
}

// Every trace is up on the third detector update only. Which answers show it tells which
// updates did each kind's work; the class-wide counts need a fresh process to start from.
constexpr char kTraceUp[] = "001000";
const std::pair<EPLUGINTYPE, const char*> kPacing[] = {
    {PLUGIN_CHECKPOINT, "001000"},   // every update
    {PLUGIN_CISCO3000, "001100"},    // the 1st, 3rd, 5th ... of the plug-in
    {PLUGIN_AVENTAIL, "001100"},     // the 1st, 3rd, 5th ... of the process
    {PLUGIN_JUNIPERSSL, "001110"},   // the 3rd, 6th ... of the process
    {PLUGIN_ALCATEL, "000000"},      // none
};

TEST(VpnPacingChild, EachKindWorksOnItsOwnUpdates) {
    if (ChildArgument().empty()) GTEST_SKIP() << "runs only as a child";
    MachineScope scope(MachineWith(kTunnelAdapter, kNoAddress));
    const char* const keys[] = {"SOFTWARE\\Cisco Systems\\VPN Client", "SOFTWARE\\CheckPoint\\SecuRemote",
                                "SOFTWARE\\Aventail\\Connect\\System\\Parameters"};
    RegistryScenario registry({keys[0], keys[1], keys[2], kJuniperKey32BitView});
    registry.CreateKey(kJuniperKey32BitView);
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    ASSERT_EQ(manager.OpenVPNDetector(1), LS_OK);
    std::vector<std::string> seen(std::size(kPacing));
    for (const char* up = kTraceUp; *up != '\0'; ++up) {
        const DWORD value = *up == '1';
        for (const auto& [key, name] : {std::pair{keys[0], "TunnelEstablished"}, {keys[1], "ClientConnected"}, {keys[2], "State"}})
            registry.SetDword(key, name, value);
        scope.SetIpHelper(MachineWith(kTunnelAdapter, value ? kTunnelAddress : kNoAddress).ipHelper);
        ManagerProbe(manager).AdapterPass();  // the adapter pass, then the detector's update
        for (size_t i = 0; i < seen.size(); ++i) {
            uint32_t status = 0;
            EXPECT_EQ(manager.CheckVPNStatus(kPacing[i].first, &status), LS_OK);
            seen[i] += std::to_string(status);
        }
    }
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], kPacing[i].second) << "kind " << kPacing[i].first;
}

TEST(VpnPacing, EachKindWorksOnItsOwnUpdates) {
    ChildOptions options;
    options.dllOverrides = {{"iphlpapi", "native,builtin"}};
    const ChildRun run = RunChild("VpnPacingChild.*", options);
    EXPECT_TRUE(ChildPassed(run)) << run.output;
}

}  // namespace
