// Remote Access through the manager on each Windows version as Wine reports it (each in a child),
// on a made-up machine answered by the IP Helper and Remote Access doubles.
#include <gtest/gtest.h>

#include <linkset/linkset.h>

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

namespace {

// The connection record has Windows 2000's layout there and the packed one elsewhere: the other
// is refused, and a pass given it finds nothing. On NT before Windows 2000 no "RasMan" means no
// Remote Access; on Windows 98 the passes run without impersonating (which they could not). The
// phone book has nine entries (the first listing answers 603), names alike but for case, device
// types in any case, one connected under its exact name and one under another case, one growing
// between the size query and the read, one whose read is refused.
TEST(DialUpDiscovery, PhoneBookPortsStandInFrontAndAVpnLinkMarksItsPppPort) {
    const std::string version = ChildArgument();
    if (version.empty()) {
        for (const char* v : {"win2k", "winxp", "win7", "nt40", "win98"})
            ExpectChildPasses({.windowsVersion = v, .dllOverrides = {{"iphlpapi", "native,builtin"}, {"rasapi32", "native,builtin"}},
                               .childArgument = v});
        return;
    }
    const bool win2k = version == "win2k", nt4 = version == "nt40", win98 = version == "win98";
    TestService::Remove("RasMan");  // the machine has none, even if a run that died left one
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{E}", MIB_IF_TYPE_ETHERNET, 1, "10.0.0.1"),
                                 MakeAdapter("{P1}", MIB_IF_TYPE_PPP, 2, "10.8.0.5"),
                                 MakeAdapter("{P2}", MIB_IF_TYPE_PPP, 3, "10.8.0.5")};
    machine.ras = FakeRas{{{"Office", "vpn"}, {"Home DSL", "PPPoE"}, {"Dial-in", "MODEM"}, {"Tunnel", "VPN"},
                           {"Backup", "isdn"}, {"Lab", "vpn", RasEntryFault::GrowsBeforeRead},
                           {"Broken", "vpn", RasEntryFault::ReadFails}, {"Twin", "vpn"}, {"TWIN", "modem"}},
                          {{"Office", "vpn", "10.8.0.5"}, {"TUNNEL", "modem", ""}}};
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    ManagerOnMachine on(machine);
    on.probe.Tick(1);  // the adapter and the phone-book pass
    const std::vector<PORT_INFO> ports = Ports(on.manager);

    std::vector<std::pair<std::string, uint32_t>> phoneBook = {{"TWIN", 0}, {"Broken", 0}, {"Lab", 1}, {"Backup", 1},
                                                               {"Tunnel", 1}, {"Dial-in", 0}, {"Home DSL", 0}};
    std::vector<std::string> lines = {"RasGetEntryProperties compain buffer is too small, buffer needed is 2948\n",
                                      "ERROR: when get device type error code 5\n",
                                      "<LinkSetMgr>: GetRAsDeviceType: failed to ras device type\n"};
    if (nt4) {
        phoneBook.clear();
        lines = {"miniras: RAS was not installed.\n"};
    }
    ASSERT_EQ(ports.size(), phoneBook.size() + 3);
    for (std::size_t i = 0; i < phoneBook.size(); ++i) {
        SCOPED_TRACE(phoneBook[i].first);
        EXPECT_EQ(ports[i].ConnectionName, phoneBook[i].first);
        EXPECT_STREQ(ports[i].AdapterName, "NdisWanIp");
        EXPECT_EQ(ports[i].PortType + ports[i].IsDialUp, PORT_TYPE_DIALUP + 1u);
        EXPECT_EQ(ports[i].IpAddress + ports[i].HasIpAddress, 0u);
        EXPECT_EQ(ports[i].IsVpnDevice, phoneBook[i].second);
    }
    // Only the first PPP port with the link's address in the pass's own list, where each went to
    // the front: the later adapter.
    const PORT_INFO* p2 = &ports[phoneBook.size() + 1];
    EXPECT_STREQ(p2->AdapterName, "{P2}");
    EXPECT_EQ(p2[-1].IsVpnDevice, 0u);
    EXPECT_EQ(p2->IsVpnDevice, nt4 ? 0u : 1u);

    PortList other;
    CCoreRtCriticalSectionEx lock;
    RefreshDialUpEntries(other, lock, win2k ? RasConnLayout::Other : RasConnLayout::Windows2000);
    EXPECT_TRUE(other.empty()) << "the other record layout is refused";
    if (win98) {
        EXPECT_EQ(LogonUserImpersonator().Impersonate(), -1);
        lines.push_back("LogonUserImpersonator: wrong OS type.\n");
    }
    EXPECT_EQ(log.Lines(), lines);
}

}  // namespace
