// Remote Access through the manager, on a made-up machine answered by the IP Helper and Remote
// Access doubles: phone-book ports, VPN marks of PPP ports, the user's identity around each
// pass, and the Windows versions as Wine reports them.
#include <gtest/gtest.h>

#include <linkset/linkset.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "import_patch.h"
#include "machine.h"
#include "manager/dialup_discovery.h"
#include "manager_harness.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "sources/logon_user_impersonator.h"
#include "system_program.h"

namespace {

constexpr char kVpnAddress[] = "10.8.0.5";
constexpr char kDeviceTypeFailed[] = "<LinkSetMgr>: GetRAsDeviceType: failed to ras device type\n";
constexpr char kReadRefused[] = "ERROR: when get device type error code 5\n";

bool ThreadImpersonates() {
    UniqueHandle token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) != FALSE;
}

std::vector<std::string> ConnectionNames(const PortList& ports) {
    std::vector<std::string> names;
    for (const auto& port : ports) names.push_back(port->ConnectionName);
    return names;
}

// Nine entries (the first listing answers 603), names alike but for case, device types in any
// case, one connected under its exact name and one under another case, one growing between the
// size query and the read, one whose read is refused.
TEST(DialUpDiscovery, PhoneBookEntriesStandInFrontAndAVpnLinkMarksItsPppPort) {
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{E}", MIB_IF_TYPE_ETHERNET, 1, "10.0.0.1"),
                                 MakeAdapter("{P1}", MIB_IF_TYPE_PPP, 2, kVpnAddress),
                                 MakeAdapter("{P2}", MIB_IF_TYPE_PPP, 3, kVpnAddress)};
    machine.ras = FakeRas{{{"Office", "vpn"},
                           {"Home DSL", "PPPoE"},
                           {"Dial-in", "MODEM"},
                           {"Tunnel", "VPN"},
                           {"Backup", "isdn"},
                           {"Lab", "vpn", RasEntryFault::GrowsBeforeRead},
                           {"Broken", "vpn", RasEntryFault::ReadFails},
                           {"Twin", "vpn"},
                           {"TWIN", "modem"}},
                          {{"Office", "vpn", kVpnAddress}, {"TUNNEL", "modem", ""}}};
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    const MachineScope scope(machine);
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    ManagerProbe(manager).Tick(1);  // the adapter and the phone-book pass
    const std::vector<PORT_INFO> ports = Ports(manager);

    const std::vector<std::pair<std::string, uint32_t>> phoneBook = {
        {"TWIN", 0}, {"Broken", 0}, {"Lab", 1}, {"Backup", 1}, {"Tunnel", 1}, {"Dial-in", 0}, {"Home DSL", 0}};
    ASSERT_EQ(ports.size(), phoneBook.size() + 3);
    for (std::size_t i = 0; i < phoneBook.size(); ++i) {
        SCOPED_TRACE(phoneBook[i].first);
        EXPECT_EQ(ports[i].ConnectionName, phoneBook[i].first);
        EXPECT_STREQ(ports[i].AdapterName, "NdisWanIp");
        EXPECT_EQ(ports[i].PortType, PORT_TYPE_DIALUP);
        EXPECT_EQ(ports[i].IsDialUp, 1u);
        EXPECT_EQ(ports[i].IpAddress + ports[i].HasIpAddress + ports[i].IpAddressCount, 0u);
        EXPECT_EQ(ports[i].IsVpnDevice, phoneBook[i].second);
    }
    // Only the first PPP port of the pass's own list holding the link's address, where each PPP
    // adapter went to the front: the later adapter.
    EXPECT_STREQ(ports[8].AdapterName, "{P2}");
    EXPECT_EQ(ports[7].IsVpnDevice, 0u);
    EXPECT_EQ(ports[8].IsVpnDevice, 1u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "RasGetEntryProperties compain buffer is too small, buffer needed is 2948\n",
                               kReadRefused, kDeviceTypeFailed}));
}

// The host's debug log fails on the first line a pass writes, while the thread impersonates.
class FailingDebugLog final : public IDebugLog {
public:
    bool IsEnabled() override { return true; }
    void Write(const outputstr*) override { throw std::runtime_error("the host's log failed"); }
};

BOOL WINAPI RefusedToken(HANDLE, DWORD, HANDLE*) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
BOOL WINAPI RefusedImpersonation(HANDLE) {
    SetLastError(ERROR_CANNOT_IMPERSONATE);
    return FALSE;
}

// With Wine's command shell running, each pass impersonates its user. A failure to do so ends
// the pass with its line and the old entries in place; no pass, not even one ended by an
// exception, leaves the thread impersonating.
TEST(DialUpDiscovery, NoPassLeavesTheThreadImpersonatingAndAFailedImpersonationKeepsTheOldEntries) {
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const SystemProgram shell(std::string(system) + "\\cmd.exe", "/k");
    Machine machine;
    machine.ras = FakeRas{{{"Before"}}, {}};
    MachineScope scope(machine);
    PortList ports;
    CCoreRtCriticalSectionEx lock;
    RefreshDialUpEntries(ports, lock, RasConnLayout::Other);
    scope.SetRas(FakeRas{{{"After", "vpn", RasEntryFault::ReadFails}}, {}});
    const struct {
        const char* name;
        const char* failing;  // the import made to fail, if any
        const void* replacement;
        bool throwingLog;
        std::vector<std::string> entries;
        std::vector<std::string> lines;  // one per pass
    } rows[] = {
        {"token refused", "OpenProcessToken", reinterpret_cast<const void*>(&RefusedToken), false, {"Before"},
         {"LogonUserImpersonator: OpenProcessToken Failed, err: 5\n"}},
        {"impersonation refused", "ImpersonateLoggedOnUser", reinterpret_cast<const void*>(&RefusedImpersonation),
         false, {"Before"}, {"LogonUserImpersonator: ImpersonateLoggedOnUser Failed, err: 1368\n"}},
        {"ended by an exception", nullptr, nullptr, true, {}, {}},
        {"impersonated", nullptr, nullptr, false, {"After"}, {kReadRefused, kDeviceTypeFailed}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<ImportPatch> failure;
        if (row.failing) failure.emplace(ThisExecutable(), "ADVAPI32.dll", row.failing, row.replacement);
        RecordingDebugLog log;
        FailingDebugLog failingLog;
        LsSetDebugOutput(row.throwingLog ? static_cast<IDebugLog*>(&failingLog) : &log);
        EXPECT_EQ(row.throwingLog, [&] {
            try {
                RefreshDialUpEntries(ports, lock, RasConnLayout::Other);
            } catch (const std::runtime_error&) {
                return true;
            }
            return false;
        }());
        EXPECT_FALSE(ThreadImpersonates());
        MarkVpnConnections(ports, RasConnLayout::Other);
        EXPECT_FALSE(ThreadImpersonates());
        LsSetDebugOutput(nullptr);
        EXPECT_EQ(ConnectionNames(ports), row.entries);
        std::vector<std::string> lines = row.lines;
        if (row.failing) lines.push_back(lines.front());  // the connection pass fails alike
        EXPECT_EQ(log.Lines(), lines);
    }
}

// Managers come and go, each running both passes over the whole machine; nothing stays open, and
// once the last is gone the binding no longer holds Remote Access.
TEST(DialUpDiscovery, ManagersRunningBothPassesLeaveNothingBehind) {
    constexpr int kWarmUp = 5, kCycles = 100;  // each pass walks the process list, slow under Wine
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{P}", MIB_IF_TYPE_PPP, 1, kVpnAddress)};
    machine.ras = FakeRas{{{"Office", "vpn"}, {"Lab", "vpn", RasEntryFault::GrowsBeforeRead}},
                          {{"Office", "vpn", kVpnAddress}}};
    {
        const MachineScope scope(machine);
        auto cycle = [] {
            CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
            ManagerProbe(manager).Tick(1);
        };
        for (int i = 0; i < kWarmUp; ++i) cycle();
        const HandleCount handles;
        const unsigned long long heapBefore = HeapBytesInUse();
        for (int i = 0; i < kCycles; ++i) cycle();
        EXPECT_EQ(handles.Added(), 0);
        EXPECT_EQ(static_cast<long long>(HeapBytesInUse() - heapBefore), 0);
    }
    EXPECT_FALSE(IsModuleLoaded("rasapi32.dll"));
}

// On each version as Wine reports it: the connection record of its layout (Windows 2000's own,
// the packed one elsewhere; the other one is refused and the pass finds nothing), impersonation
// from Windows 2000 on, and the service check on NT before it, where no "RasMan" means no
// Remote Access at all.
TEST(DialUpDiscoveryChild, RecordLayoutImpersonationAndServiceCheckFollowTheVersion) {
    const std::string version = ChildArgument();
    if (version.empty()) GTEST_SKIP() << "runs only as a child";
    const struct {
        const char* version;
        RasConnLayout layout;
        bool rasUsable, impersonates, checksService;
        std::vector<std::string> lines;
    } versions[] = {
        {"win2k", RasConnLayout::Windows2000, true, true, false, {}},
        {"winxp", RasConnLayout::Other, true, true, false, {}},
        {"win7", RasConnLayout::Other, true, true, false, {}},
        {"nt40", RasConnLayout::Other, false, false, true, {"miniras: RAS was not installed.\n"}},
        {"win98", RasConnLayout::Other, true, false, false, {"LogonUserImpersonator: wrong OS type.\n"}},
    };
    const auto row = std::find_if(std::begin(versions), std::end(versions),
                                  [&](const auto& v) { return version == v.version; });
    ASSERT_NE(row, std::end(versions));
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{P}", MIB_IF_TYPE_PPP, 1, kVpnAddress)};
    machine.ras = FakeRas{{{"Office", "vpn"}, {"Spare", "modem"}}, {{"Office", "vpn", kVpnAddress}}};
    const MachineScope scope(machine);
    // Impersonation loads the process status library; the service check opens the service manager.
    static int psapiLoads = 0, serviceManagers = 0;
    static decltype(&LoadLibraryA) loadLibrary = nullptr;
    static decltype(&OpenSCManagerA) openManager = nullptr;
    const ImportPatch loads(ThisExecutable(), "KERNEL32.dll", "LoadLibraryA",
                            +[](const char* name) -> HMODULE {
                                psapiLoads += _stricmp(name, "PsApi.dll") == 0;
                                return loadLibrary(name);
                            },
                            &loadLibrary);
    const ImportPatch managers(ThisExecutable(), "ADVAPI32.dll", "OpenSCManagerA",
                               +[](const char* machineName, const char* database, DWORD access) -> SC_HANDLE {
                                   ++serviceManagers;
                                   return openManager(machineName, database, access);
                               },
                               &openManager);

    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    ManagerProbe(manager).Tick(1);
    const std::vector<PORT_INFO> ports = Ports(manager);
    ASSERT_EQ(ports.size(), row->rasUsable ? 2u : 1u);
    EXPECT_STREQ(ports[0].ConnectionName, row->rasUsable ? "Spare" : "{P}");
    EXPECT_EQ(ports.back().IsVpnDevice, row->rasUsable ? 1u : 0u);
    EXPECT_EQ(psapiLoads > 0, row->impersonates);
    EXPECT_EQ(serviceManagers > 0, row->checksService);

    PortList other;
    CCoreRtCriticalSectionEx lock;
    RefreshDialUpEntries(other, lock, row->layout == RasConnLayout::Other ? RasConnLayout::Windows2000 : RasConnLayout::Other);
    EXPECT_TRUE(other.empty()) << "the other record layout is refused";
    LogonUserImpersonator impersonator;
    EXPECT_EQ(impersonator.Impersonate(), version == "win98" ? -1 : 0);
    EXPECT_EQ(log.Lines(), row->lines);
}

TEST(DialUpDiscovery, RecordLayoutImpersonationAndServiceCheckFollowTheVersion) {
    for (const char* version : {"win2k", "winxp", "win7", "nt40", "win98"}) {
        ChildOptions options;
        options.windowsVersion = options.childArgument = version;
        options.dllOverrides = {{"iphlpapi", "native,builtin"}, {"rasapi32", "native,builtin"}};
        const ChildRun run = RunChild("DialUpDiscoveryChild.*", options);
        EXPECT_TRUE(ChildPassed(run)) << version << ":\n" << run.output;
    }
}

}  // namespace
