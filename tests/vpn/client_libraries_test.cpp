// The plug-ins that ask a VPN client's own libraries, each test in a child with a fresh NetScreen
// binding and the plain event library in the system directory: real services, the real logoff
// event, SafeNet's rule library beside the program of a real "SOFTREMOTEPM" service.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include "child_process.h"
#include "client_library_double.h"
#include "recording_log.h"
#include "test_service.h"
#include "vpn/client_plugins.h"
#include "vpn/vpn_detector.h"

namespace {

const std::string kDoubles = WinePath(DOUBLES_DIR);

UniqueHandle SignalledLogoffEvent() { return UniqueHandle(CreateEventA(nullptr, TRUE, TRUE, "crypt32LogoffEvent")); }

const ChildOptions kWithEventLibrary = {.systemDouble = kDoubles + "\\cmondll_plain\\cmondll.dll"};

TEST(ClientLibraries, NetScreen) {
    if (ChildArgument().empty()) return ExpectChildPasses(kWithEventLibrary);
    // Both plug-ins ask the process's detector twice per update: its 56th Detect, the first to try
    // the library, comes with the 28th update, and a failure is final until the detector goes.
    {
        CVPNDetector detector(nullptr);
        CVPNConfig both;
        both.EnablePlugIn(PLUGIN_NETSCREEN, true);
        both.EnablePlugIn(PLUGIN_SAFENET, true);
        detector.SetConfig(&both);
        SetEnvironmentVariableA(kCmonSteering, "version 0");
        for (int update = 0; update < 27; ++update) detector.Update();
        EXPECT_EQ(TakeCalls(kCmonCalls), "");
        detector.Update();
        EXPECT_EQ(TakeCalls(kCmonCalls), "load version free ");
        const UniqueHandle logoff = SignalledLogoffEvent();
        for (int update = 0; update < 30; ++update) detector.Update();
        EXPECT_EQ(CNetScreenVPNDetector().Detect(), 0u);
        EXPECT_EQ(TakeCalls(kCmonCalls), "");
        SetEnvironmentVariableA(kCmonSteering, "refuse");
        EXPECT_EQ(CNetScreenVPNDetector().Detect(), 0u);
        EXPECT_EQ(TakeCalls(kCmonCalls), "load version register 3 * free ");
        SetEnvironmentVariableA(kCmonSteering, nullptr);
    }
    // The second service is asked only when the first runs; a build without the unregistration
    // is given up before anything is called, and not tried again.
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_TRUE(CopyFileA((kDoubles + "\\cmondll_lacking\\cmondll.dll").c_str(), (system + std::string("\\cmondll.dll")).c_str(), FALSE));
    {
        TestService monitor("IPSECMON", TestService::Behaviour::Runs), ike("IREIKE", TestService::Behaviour::Runs);
        monitor.Start();
        CNetScreenVPNDetector netScreen;
        EXPECT_EQ(netScreen.Detect(), 0u);
        EXPECT_EQ(TakeCalls(kCmonCalls), "");
        ike.Start();
        EXPECT_EQ(netScreen.Detect() + netScreen.Detect(), 0u);
        EXPECT_EQ(TakeCalls(kCmonCalls), "load free ");
    }
}

TEST(ClientLibraries, SafeNet) {
    if (ChildArgument().empty()) return ExpectChildPasses(kWithEventLibrary);

    // The later generation runs the whole sequence on every Detect, writes the library's path and
    // frees it. A stopped service's quoted path would give a line if the library looked.
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
        EXPECT_EQ(later.Detect(), row.detected);
        EXPECT_EQ(later.IsConnected(), row.connected);
        EXPECT_EQ(TakeCalls(kConApiCalls), row.calls);
        EXPECT_EQ(log.Lines(), std::vector<std::string>(row.calls.empty() ? 0 : 1, folder + "GUI\\ConAPI.dll\n"));
        EXPECT_EQ(GetModuleHandleA("ConAPI.dll"), nullptr);
        log.Clear();
    }

    // Both generations through the plug-in: with none current the earlier is asked first, answering
    // once its event library has the callback; a current one is asked alone while it answers.
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
        EXPECT_EQ(plugIn.IsConnected(), step.connected);
        EXPECT_EQ(TakeCalls(kConApiCalls), step.conApi);
        EXPECT_EQ(TakeCalls(kCmonCalls), step.cmon);
    }
}

}  // namespace
