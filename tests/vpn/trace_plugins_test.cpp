// Plug-ins that read registry and process traces, on values and processes the test makes.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <sddl.h>

#include <memory>
#include <tuple>

#include "child_process.h"
#include "named_process.h"
#include "recording_log.h"
#include "vpn/registry_traces.h"
#include "vpn/trace_plugins.h"
#include "vpn_traces.h"

namespace {

// Grants KEY_READ and DELETE, not KEY_ALL_ACCESS, as HKLM does to a user who may not write there.
void AllowOnlyReading(const char* path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)(A;;SD;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    const std::unique_ptr<void, decltype(&LocalFree)> owned(descriptor, &LocalFree);
    UniqueKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
}

// Each row is a machine: one value stored as "TunnelEstablished", "ClientConnected" and "State",
// Aventail's service key, its processes. One plug-in of each kind lives through the rows: reading
// nothing, Cisco 3000 keeps its answer.
enum Stored { kNoKey, kDword, kBinary4, kDword8 };  // kBinary4: REG_BINARY; kDword8: eight bytes typed REG_DWORD
enum Running { kNone, kManager, kMonitor, kBoth };  // bit 0: "ngvpnmgr.exe", bit 1: "ngmonitor.exe"
struct Row { const char* name; Stored stored; DWORD value; bool service; int running; bool readOnly; uint32_t checkpoint, cisco, aventail; };
const Row kRows[] = {
    {"REG_DWORD 1", kDword, 1, true, kBoth, false, 1, 1, 1},
    {"REG_DWORD 5", kDword, 5, true, kBoth, false, 0, 1, 0},
    {"no key, service, both processes", kNoKey, 0, true, kBoth, false, 0, 1, 1},
    {"no key, service, ngvpnmgr only", kNoKey, 0, true, kManager, false, 0, 1, 0},
    {"no key, service, ngmonitor only", kNoKey, 0, true, kMonitor, false, 0, 1, 0},
    {"REG_DWORD 0", kDword, 0, true, kNone, false, 0, 0, 0},
    {"1 as REG_BINARY, no service: the four bytes still land", kBinary4, 1, false, kNone, false, 0, 0, 1},
    {"8-byte value beginning with 1", kDword8, 1, true, kNone, false, 0, 0, 0},
    {"no key, no service, both processes", kNoKey, 0, false, kBoth, false, 0, 0, 0},
    {"REG_DWORD 1, Check Point's key refusing KEY_ALL_ACCESS: read, yet not there", kDword, 1, true, kBoth, true, 1, 1, 1}};

TEST(RegistryAndProcessTraces, AnswersOfCisco3000CheckpointAndAventail) {
    const char* const names[] = {"ngvpnmgr.exe", "ngmonitor.exe"};
    std::vector<std::unique_ptr<NamedProcess>> processes;
    CCisco3000VPNPlugIn cisco;
    CCheckpointVPNPlugIn checkpoint;
    CAventailVPNPlugIn aventail;
    for (const Row& c : kRows) {
        SCOPED_TRACE(c.name);
        processes.clear();
        for (int i = 0; i < 2; ++i) if (c.running & 1 << i) processes.push_back(std::make_unique<NamedProcess>(names[i]));
        RegistryScenario registry({kCiscoKey, kCheckpointKey, kAventailKey, kAventailServiceKey});
        const DWORD bytes[] = {c.value, 0};
        for (const auto& [key, value] : {std::pair{kCiscoKey, "TunnelEstablished"}, {kCheckpointKey, "ClientConnected"}, {kAventailKey, "State"}})
            if (c.stored != kNoKey) registry.SetValue(key, value, c.stored == kBinary4 ? REG_BINARY : REG_DWORD, bytes, c.stored == kDword8 ? 8 : 4);
        if (c.service) registry.CreateKey(kAventailServiceKey);
        if (c.readOnly) AllowOnlyReading(kCheckpointKey);
        EXPECT_EQ(RegKeyExists(nullptr, kCheckpointKey), c.stored != kNoKey && !c.readOnly ? kRegTraceFound : kRegTraceAbsent);
        // Cisco 3000 works on its 1st, 3rd ... call, Aventail on one in two wherever the class's count stands.
        checkpoint.Update();
        for (IVPNPlugIn* plugIn : std::initializer_list<IVPNPlugIn*>{&cisco, &aventail, &cisco, &aventail}) plugIn->Update();
        EXPECT_EQ(std::tuple(checkpoint.IsConnected(), cisco.IsConnected(), aventail.IsConnected()), std::tuple(c.checkpoint, c.cisco, c.aventail))
            << "Check Point, Cisco 3000, Aventail";
    }
    // Taking turns on the class's one count, one object gets both working calls, the other none.
    CAventailVPNPlugIn first, second;
    RegistryScenario registry({kAventailKey});
    registry.SetDword(kAventailKey, "State", 1);
    for (CAventailVPNPlugIn* each : {&first, &second, &first, &second}) each->Update();
    EXPECT_EQ(first.IsConnected() + second.IsConnected(), 1u);
}

// Each child, winxp or win98, is given the driver key of its family: building the plug-in, as the
// install exports do, reports that key only.
constexpr const char* kDriverKeys[] = {"SYSTEM\\CurrentControlSet\\Services\\CVPNDRV", "System\\CurrentControlSet\\Services\\VxD\\CVPNDrv"};
TEST(Cisco3000, ReportsTheDriverKeyOfItsWindowsFamily) {
    if (ChildArgument().empty()) {
        for (const auto& [version, driverKey] : {std::pair{"winxp", kDriverKeys[0]}, std::pair{"win98", kDriverKeys[1]}})
            ExpectChildPasses({.windowsVersion = version, .childArgument = driverKey});
        return;
    }
    for (const char* driverKey : kDriverKeys) {
        RegistryScenario registry({kDriverKeys[0], kDriverKeys[1]});
        registry.CreateKey(driverKey);
        RecordingDebugLog log;
        const ScopedDebugLog installed(log, &LsSetDebugOutput);
        QsNetInstallVPNDetectorPlugIn(PLUGIN_CISCO3000);
        QsNetUninstallVPNDetectorPlugIn(PLUGIN_ALL);
        EXPECT_EQ(log.Lines(), std::vector<std::string>(ChildArgument() == driverKey ? 2 : 0,
                                                        "<CCisco3000VPNPlugIn>: Cisco3000 vpn client installation detected.\n")) << driverKey;
    }
}

}  // namespace
