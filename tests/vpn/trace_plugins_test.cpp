// The plug-ins that read registry and process traces, on values the test writes into the
// prefix's registry and processes it starts under the clients' names.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "named_process.h"
#include "recording_log.h"
#include "registry_scenario.h"
#include "system/handles.h"
#include "vpn/registry_traces.h"
#include "vpn/trace_plugins.h"

namespace {

constexpr char kCiscoKey[] = "SOFTWARE\\Cisco Systems\\VPN Client";
constexpr char kCheckpointKey[] = "SOFTWARE\\CheckPoint\\SecuRemote";
constexpr char kAventailKey[] = "SOFTWARE\\Aventail\\Connect\\System\\Parameters";
constexpr char kAventailService[] = "SYSTEM\\CurrentControlSet\\Services\\ngvpnmgr";
constexpr DWORD kUnread = 0xEEEEEEEE, kAnyValue = 0xDDDDDDDD;
enum Stored { kNoKey, kNoValue, kDword, kBinary4, kBinary8 };

void Store(RegistryScenario& registry, const char* key, const char* name, Stored stored, DWORD value) {
    const DWORD bytes[] = {value, 0};
    if (stored != kNoKey) registry.CreateKey(key);
    if (stored >= kDword) registry.SetValue(key, name, stored == kDword ? REG_DWORD : REG_BINARY, bytes, stored == kBinary8 ? 8 : 4);
}

// The key keeps KEY_READ, and DELETE so that the scenario can still remove it, but refuses
// KEY_ALL_ACCESS: Wine honours a key's security descriptor.
void AllowOnlyReading(const char* path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)(A;;SD;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    const std::unique_ptr<void, decltype(&LocalFree)> owned(descriptor, &LocalFree);
    UniqueKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
}

struct ValueCase {
    const char* name;
    Stored stored;
    DWORD value;
    bool readOnly;
    int32_t exists, read;
    DWORD landed;                 // what RegQueryDword leaves in its variable
    uint32_t checkpoint, cisco;   // the Cisco 3000 plug-in lives through every row
};
const ValueCase kValueCases[] = {
    {"REG_DWORD 1", kDword, 1, false, kRegTraceFound, kRegTraceFound, 1, 1, 1},
    {"REG_DWORD 5: Cisco keeps its answer", kDword, 5, false, kRegTraceFound, kRegTraceFound, 5, 0, 1},
    {"no value: Cisco keeps its answer", kNoValue, 0, false, kRegTraceFound, kRegTraceAbsent, kUnread, 0, 1},
    {"no key: Cisco keeps its answer", kNoKey, 0, false, kRegTraceAbsent, kRegTraceAbsent, kUnread, 0, 1},
    {"REG_DWORD 0", kDword, 0, false, kRegTraceFound, kRegTraceFound, 0, 0, 0},
    {"1 as REG_BINARY: written, but not a DWORD", kBinary4, 1, false, kRegTraceFound, kRegTraceAbsent, 1, 0, 0},
    {"8-byte value", kBinary8, 1, false, kRegTraceFound, kRegTraceAbsent, kAnyValue, 0, 0},
    {"REG_DWORD 1, key refusing KEY_ALL_ACCESS", kDword, 1, true, kRegTraceAbsent, kRegTraceFound, 1, 1, 1},
};

TEST(RegistryTraces, DwordRulesAsTheCisco3000AndCheckpointPlugInsSeeThem) {
    CCisco3000VPNPlugIn cisco;
    CCheckpointVPNPlugIn checkpoint;
    for (const ValueCase& c : kValueCases) {
        SCOPED_TRACE(c.name);
        RegistryScenario registry({kCiscoKey, kCheckpointKey});
        Store(registry, kCiscoKey, "TunnelEstablished", c.stored, c.value);
        Store(registry, kCheckpointKey, "ClientConnected", c.stored, c.value);
        if (c.readOnly) AllowOnlyReading(kCheckpointKey);
        DWORD landed = kUnread;
        EXPECT_EQ(RegKeyExists(nullptr, kCheckpointKey), c.exists);
        EXPECT_EQ(RegQueryDword(nullptr, kCheckpointKey, "ClientConnected", &landed), c.read);
        EXPECT_TRUE(c.landed == kAnyValue || landed == c.landed) << landed;
        checkpoint.Update();
        cisco.Update();  // works on its 1st, 3rd, 5th ... call: the first of each row's two
        cisco.Update();
        EXPECT_EQ(checkpoint.IsConnected(), c.checkpoint);
        EXPECT_EQ(cisco.IsConnected(), c.cisco);
    }
}

constexpr const char* kDriverKeys[] = {"SYSTEM\\CurrentControlSet\\Services\\CVPNDRV",
                                       "System\\CurrentControlSet\\Services\\VxD\\CVPNDrv"};

// The child's argument is the driver key of its Windows family; the other key goes unnoticed.
TEST(Cisco3000Child, ReportsTheDriverKeyOfItsWindowsFamily) {
    if (ChildArgument().empty()) GTEST_SKIP() << "runs only as a child";
    for (const char* driverKey : kDriverKeys) {
        SCOPED_TRACE(driverKey);
        RegistryScenario registry({kDriverKeys[0], kDriverKeys[1]});
        registry.CreateKey(driverKey);
        RecordingDebugLog log;
        const ScopedDebugLog installed(log, &LsSetDebugOutput);
        const CCisco3000VPNPlugIn plugIn;
        const std::vector<std::string> reported = {"<CCisco3000VPNPlugIn>: Cisco3000 vpn client installation detected.\n"};
        EXPECT_EQ(log.Lines(), ChildArgument() == driverKey ? reported : std::vector<std::string>{});
    }
}

TEST(Cisco3000, DriverKeyOnTheNtFamilyAndOnWindows9x) {
    for (const auto& [version, driverKey] : {std::pair{"winxp", kDriverKeys[0]}, std::pair{"win98", kDriverKeys[1]}}) {
        const ChildRun run = RunAsWindowsVersion(version, "Cisco3000Child.*", driverKey);
        EXPECT_TRUE(ChildPassed(run)) << version << ":\n" << run.output;
    }
}

enum Running { kNone = 0, kManager = 1, kMonitor = 2, kBoth = 3 };
struct AventailCase {
    const char* name;
    Stored state;
    DWORD value;
    bool service;
    int running;
    uint32_t want;
};
const AventailCase kAventailCases[] = {
    {"State 1", kDword, 1, true, kBoth, 1},
    {"State 2", kDword, 2, true, kBoth, 0},
    {"no State, service, both processes", kNoValue, 0, true, kBoth, 1},
    {"no State, no service, both processes", kNoKey, 0, false, kBoth, 0},
    {"no State, service, ngvpnmgr only", kNoValue, 0, true, kManager, 0},
    {"no State, service, ngmonitor only", kNoValue, 0, true, kMonitor, 0},
    {"no State, service, no process", kNoValue, 0, true, kNone, 0},
    {"State 1 as REG_BINARY, no service", kBinary4, 1, false, kNone, 1},
};

TEST(Aventail, StateOrServiceAndBothProcesses) {
    const char* const names[] = {"ngvpnmgr.exe", "ngmonitor.exe"};
    std::unique_ptr<NamedProcess> processes[2];
    CAventailVPNPlugIn plugIn;
    for (const AventailCase& c : kAventailCases) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < 2; ++i) {
            const bool wanted = c.running & (1 << i);
            if (!wanted) processes[i].reset();
            if (wanted && !processes[i]) processes[i] = std::make_unique<NamedProcess>(names[i]);
        }
        RegistryScenario registry({kAventailKey, kAventailService});
        Store(registry, kAventailKey, "State", c.state, c.value);
        if (c.service) registry.CreateKey(kAventailService);
        plugIn.Update();  // one call in two works, wherever the class's count stands
        plugIn.Update();
        EXPECT_EQ(plugIn.IsConnected(), c.want);
    }
}

TEST(Aventail, ObjectsAliveTogetherShareOneCount) {
    RegistryScenario registry({kAventailKey});
    registry.SetDword(kAventailKey, "State", 1);
    CAventailVPNPlugIn first, second;
    for (int round = 0; round < 2; ++round) {
        first.Update();
        second.Update();
    }
    // Taking turns on one count, one of them got both working calls and the other none.
    EXPECT_EQ(first.IsConnected() + second.IsConnected(), 1u);
}

}  // namespace
