// VPN answers as a host reads them from a manager fed by the IP Helper double, in a child process
// where the class-wide counts start afresh: the pacing of each kind, and Juniper's adapter.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <string>

#include "child_process.h"
#include "machine.h"
#include "manager_harness.h"
#include "../vpn/vpn_traces.h"

namespace {

FakeIpHelper AdaptersWith(const char* description, bool addressed = true, int before = 0) {
    FakeIpHelper ipHelper;
    for (int i = 0; i < before; ++i) ipHelper.adapters.push_back(MakeAdapter("{" + std::to_string(i) + "}", MIB_IF_TYPE_ETHERNET, i + 1, "10.1.0.1"));
    ipHelper.adapters.push_back(MakeAdapter("{J}", MIB_IF_TYPE_ETHERNET, before + 1, addressed ? "10.9.0.2" : "0.0.0.0", description));
    return ipHelper;
}

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
