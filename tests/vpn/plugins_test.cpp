// The VPN plug-ins on traces made here: registry values, processes, services, client library doubles.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <sddl.h>

#include "double_support.h"
#include "named_process.h"
#include "recording_log.h"
#include "test_service.h"
#include "vpn/client_plugins.h"
#include "vpn/registry_traces.h"
#include "vpn/trace_plugins.h"
#include "vpn/vpn_detector.h"
#include "vpn_traces.h"

namespace {

// Each row a machine; one plug-in of each kind lives through them, so Cisco 3000 keeps its answer on no read.
TEST(RegistryAndProcessTraces, AnswersOfCisco3000CheckpointAndAventail) {
    enum Stored { kNoKey, kDword, kBinary4, kDword8 };  // kBinary4: REG_BINARY; kDword8: eight bytes typed REG_DWORD
    const struct { const char* name; Stored stored; DWORD value; bool service; int running; bool readOnly; uint32_t checkpoint, cisco, aventail; }
        rows[] = {
        {"REG_DWORD 1, Check Point's key refusing KEY_ALL_ACCESS: read, not there", kDword, 1, true, 3, true, 1, 1, 1},
        {"REG_DWORD 5", kDword, 5, true, 3, false, 0, 1, 0},
        {"no key, service, both processes", kNoKey, 0, true, 3, false, 0, 1, 1},
        {"no key, service, ngvpnmgr only", kNoKey, 0, true, 1, false, 0, 1, 0},
        {"no key, service, ngmonitor only", kNoKey, 0, true, 2, false, 0, 1, 0},
        {"REG_DWORD 0", kDword, 0, true, 0, false, 0, 0, 0},
        {"1 as REG_BINARY, no service: the four bytes still land", kBinary4, 1, false, 0, false, 0, 0, 1},
        {"8-byte value beginning with 1", kDword8, 1, true, 0, false, 0, 0, 0},
        {"no key, no service, both processes", kNoKey, 0, false, 3, false, 0, 0, 0}};
    const char* const names[] = {"ngvpnmgr.exe", "ngmonitor.exe"};
    std::vector<std::unique_ptr<NamedProcess>> processes;
    CCisco3000VPNPlugIn cisco;
    CCheckpointVPNPlugIn checkpoint;
    CAventailVPNPlugIn aventail, other;  // taking turns on the class's one count: one gets every working call
    for (const auto& c : rows) {
        SCOPED_TRACE(c.name);
        processes.clear();
        for (int i = 0; i < 2; ++i) if (c.running & 1 << i) processes.push_back(std::make_unique<NamedProcess>(names[i]));
        RegistryScenario registry({kCiscoKey, kCheckpointKey, kAventailKey, kAventailServiceKey});
        const DWORD bytes[] = {c.value, 0};
        for (const auto& [key, value] : {std::pair{kCiscoKey, "TunnelEstablished"}, {kCheckpointKey, "ClientConnected"}, {kAventailKey, "State"}})
            if (c.stored != kNoKey) registry.SetValue(key, value, c.stored == kBinary4 ? REG_BINARY : REG_DWORD, bytes, c.stored == kDword8 ? 8 : 4);
        if (c.service) registry.CreateKey(kAventailServiceKey);
        if (c.readOnly) {  // KEY_READ and DELETE, as HKLM grants a user who may not write there
            PSECURITY_DESCRIPTOR granted = nullptr;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)(A;;SD;;;WD)",
                                                                             SDDL_REVISION_1, &granted, nullptr));
            const std::unique_ptr<void, decltype(&LocalFree)> owned(granted, &LocalFree);
            UniqueKey key;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCheckpointKey, 0, WRITE_DAC, key.put()), ERROR_SUCCESS);
            ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, granted), ERROR_SUCCESS);
        }
        EXPECT_EQ(RegKeyExists(nullptr, kCheckpointKey), c.stored != kNoKey && !c.readOnly ? kRegTraceFound : kRegTraceAbsent);
        // Cisco 3000 works on its 1st, 3rd ... call, Aventail on one in two wherever the class's count stands.
        checkpoint.Update();
        for (IVPNPlugIn* plugIn : std::initializer_list<IVPNPlugIn*>{&cisco, &aventail, &cisco, &other}) plugIn->Update();
        EXPECT_EQ(std::tuple(checkpoint.IsConnected(), cisco.IsConnected(), aventail.IsConnected() + other.IsConnected()),
                  std::tuple(c.checkpoint, c.cisco, c.aventail));
    }
}

const std::string kDoubles = WinePath(DOUBLES_DIR);

UniqueHandle SignalledLogoffEvent() { return UniqueHandle(CreateEventA(nullptr, TRUE, TRUE, "crypt32LogoffEvent")); }

const ChildOptions kWithEventLibrary = {.systemDouble = kDoubles + "\\cmondll_plain\\cmondll.dll"};

TEST(ClientLibraries, NetScreen) {
    if (ChildArgument().empty()) return ExpectChildPasses(kWithEventLibrary);
    const auto detect = [](auto&& netScreen) {  // "answer: library calls"
        const uint32_t found = netScreen.Detect();
        return std::to_string(found) + ": " + TakeCalls(kCmonCalls);
    };
    // Both plug-ins ask the detector twice per update: the 56th Detect tries; a failure lasts while it lives.
    {
        CVPNDetector detector(nullptr);
        CVPNConfig both;
        for (EPLUGINTYPE kind : {PLUGIN_NETSCREEN, PLUGIN_SAFENET}) both.EnablePlugIn(kind, true);
        detector.SetConfig(&both);
        SetEnvironmentVariableA(kCmonSteering, "version 0");
        for (int update = 0; update < 27; ++update) detector.Update();
        EXPECT_EQ(TakeCalls(kCmonCalls), "");
        detector.Update();
        EXPECT_EQ(TakeCalls(kCmonCalls), "load version free ");
        const UniqueHandle logoff = SignalledLogoffEvent();
        for (int update = 0; update < 30; ++update) detector.Update();
        EXPECT_EQ(detect(CNetScreenVPNDetector()), "0: ");
        SetEnvironmentVariableA(kCmonSteering, "refuse");
        EXPECT_EQ(detect(CNetScreenVPNDetector()), "0: load version register 3 * free ");
        SetEnvironmentVariableA(kCmonSteering, nullptr);
    }
    // The second service is asked only when the first runs; a build lacking the unregistration is given up.
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_TRUE(CopyFileA((kDoubles + "\\cmondll_lacking\\cmondll.dll").c_str(), (system + std::string("\\cmondll.dll")).c_str(), FALSE));
    TestService monitor("IPSECMON", TestService::Behaviour::Runs), ike("IREIKE", TestService::Behaviour::Runs);
    monitor.Start();
    CNetScreenVPNDetector netScreen;
    EXPECT_EQ(detect(netScreen), "0: ");
    ike.Start();
    EXPECT_EQ(detect(netScreen), "0: load free ");
    EXPECT_EQ(detect(netScreen), "0: ");
}

TEST(ClientLibraries, SafeNet) {
    if (ChildArgument().empty()) return ExpectChildPasses(kWithEventLibrary);

    // The later generation runs the whole sequence on every Detect, writes the library's path and frees it.
    const std::string folder = kDoubles + "\\conapi_double\\", program = folder + "softremote.exe";
    const auto padded = [&](std::size_t length) { return folder + std::string(length - folder.size(), 'p'); };
    const struct { const char* name; std::string path, group; const char* steering; uint32_t detected, connected; std::string calls; } rows[] = {
        {"service stopped", "", "", "1", 0, 0, ""},
        {"second rule active", program, "", "01", 1, 1, "I S0 R N S1 C "},
        {"no active byte of 1", program, "", "02", 1, 0, "I S0 R N N S1 C "},
        {"no rules", program, "", "", 1, 0, "I S0 R S1 C "},
        {"initialising fails", program, "", "1/I", 0, 0, "I "},
        {"first stat-server call fails", program, "", "1/S", 0, 0, "I S0 C "},
        {"258 characters, configuration beyond the first read", padded(258), std::string(5000, 'g'), "1", 1, 1, "I S0 R S1 C "},
        {"259 characters", padded(259), "", "1", 0, 0, ""},
        {"no backslash", "softremote.exe", "", "1", 0, 0, ""}};
    TestService service("SOFTREMOTEPM", TestService::Behaviour::Runs);
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.path.empty() && service.State() != SERVICE_RUNNING) service.Start();
        if (!row.path.empty()) service.SetProgramPath(row.path, row.group);
        SetEnvironmentVariableA(kConApiSteering, row.steering);
        CSafeNetVPNLaterVersionDetector later;
        const uint32_t detected = later.Detect();
        EXPECT_EQ(std::tuple(detected, later.IsConnected(), TakeCalls(kConApiCalls)), std::tuple(row.detected, row.connected, row.calls));
        EXPECT_EQ(log.Lines(), std::vector<std::string>(row.calls.empty() ? 0 : 1, folder + "GUI\\ConAPI.dll\n"));
        EXPECT_EQ(GetModuleHandleA("ConAPI.dll"), nullptr);
        log.Clear();
    }

    // Through the plug-in: with none current the earlier generation is asked first; a current one alone.
    service.SetProgramPath(program);
    CSafeNetVPNPlugIn plugIn;
    UniqueHandle logoff;
    const struct { const char* name; const char* steering; uint32_t event, connected; const char *conApi, *cmon; } steps[] = {
        {"only the later generation answers", "1", 0, 1, "I S0 R S1 C ", ""},
        {"the later one, current, is asked alone", "0", 0, 0, "I S0 R N S1 C ", ""},
        {"it stops answering: the earlier registers", "1/I", 0, 0, "I ", "load version register 3 * "},
        {"the earlier stays current whatever the service does", "1", 1, 1, "", ""},
        {"event code 2 takes the tunnel down", "1", 2, 0, "", ""}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        SetEnvironmentVariableA(kConApiSteering, step.steering);
        if (step.event) {
            EXPECT_EQ(ResolveEntryPoint<RaiseIkeEventFunction>(GetModuleHandleA("cmondll.dll"), "RaiseIkeEvent")(step.event), step.connected);
        }
        plugIn.Update();
        if (!logoff) logoff = SignalledLogoffEvent();
        EXPECT_EQ(std::tuple(plugIn.IsConnected(), TakeCalls(kConApiCalls), TakeCalls(kCmonCalls)),
                  std::tuple(step.connected, std::string(step.conApi), std::string(step.cmon)));
    }
}

}  // namespace
