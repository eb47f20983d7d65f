// The plug-ins that ask a VPN client's own libraries, on doubles of them: NetScreen's event
// library in the system directory of a child process, where the process's one binding starts
// afresh, with real services and the real logoff event; SafeNet's rule library beside the
// program of a real "SOFTREMOTEPM" service.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <algorithm>

#include "child_process.h"
#include "client_library_double.h"
#include "recording_log.h"
#include "test_service.h"
#include "vpn/client_plugins.h"
#include "vpn/vpn_detector.h"

namespace {

const std::string kDoubles = WinePath(DOUBLES_DIR);

void RunWithEventLibrary(const std::string& build, const std::string& filter) {
    ChildOptions options;
    options.systemDouble = kDoubles + "\\" + build + "\\cmondll.dll";
    options.childArgument = build;
    const ChildRun run = RunChild(filter, options);
    EXPECT_TRUE(ChildPassed(run)) << build << ":\n" << run.output;
}

UniqueHandle SignalledLogoffEvent() { return UniqueHandle(CreateEventA(nullptr, TRUE, TRUE, "crypt32LogoffEvent")); }

uint32_t RaiseIkeEvent(uint32_t code) {
    return ResolveEntryPoint<RaiseIkeEventFunction>(GetModuleHandleA("cmondll.dll"), "RaiseIkeEvent")(code);
}

// Both plug-ins in one detector ask the process's detector twice per update, so its 56th Detect,
// the first to try the library, comes with the 28th update; after that failure nothing brings
// another attempt. Detectors of the test's own then show the other outcomes of an attempt.
TEST(NetScreen, CountdownThenEachOutcomeOfAnAttempt) {
    if (ChildArgument().empty()) return RunWithEventLibrary("cmondll_double", "NetScreen.Countdown*");
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
    EXPECT_EQ(CNetScreenVPNDetector().Detect(), 0u);  // still unavailable; its destruction ends that
    EXPECT_EQ(TakeCalls(kCmonCalls), "");

    SetEnvironmentVariableA(kCmonSteering, "refuse");
    EXPECT_EQ(CNetScreenVPNDetector().Detect(), 0u);
    EXPECT_EQ(TakeCalls(kCmonCalls), "load version register 3 * free ");
    SetEnvironmentVariableA(kCmonSteering, nullptr);
    {
        CNetScreenVPNDetector netScreen;
        EXPECT_EQ(netScreen.Detect(), 1u);
        EXPECT_EQ(TakeCalls(kCmonCalls), "load version register 3 * ");
        std::string answers = std::to_string(netScreen.IsConnected());  // then the callback's answer and IsConnected per event
        for (uint32_t code : {1u, 2u, 1u, 0u}) {
            answers += " " + std::to_string(RaiseIkeEvent(code));
            answers += std::to_string(netScreen.IsConnected());
        }
        EXPECT_EQ(answers, "0 11 00 11 00");
    }
    EXPECT_EQ(TakeCalls(kCmonCalls), "unregister 31 * ");
}

// The second service is asked only when the first runs; once both run, the library is tried once.
struct Build { const char* name; uint32_t detected; const char* calls; };
const Build kBuilds[] = {
    {"cmondll_plain", 1, "load version register 3 * "},
    {"cmondll_lacking", 0, "load free "},  // no unregistration: nothing more is looked up or called
};
TEST(NetScreen, ServicesBringOneAttemptWhateverTheBuild) {
    if (ChildArgument().empty()) {
        for (const Build& build : kBuilds) RunWithEventLibrary(build.name, "NetScreen.Services*");
        return;
    }
    const Build& build = *std::find_if(std::begin(kBuilds), std::end(kBuilds), [](const Build& b) { return ChildArgument() == b.name; });
    TestService monitor("IPSECMON", TestService::Behaviour::Runs), ike("IREIKE", TestService::Behaviour::Runs);
    monitor.Start();
    CNetScreenVPNDetector netScreen;
    EXPECT_EQ(netScreen.Detect(), 0u);
    EXPECT_EQ(TakeCalls(kCmonCalls), "");
    ike.Start();
    EXPECT_EQ(netScreen.Detect() + netScreen.Detect(), 2 * build.detected);
    EXPECT_EQ(TakeCalls(kCmonCalls), build.calls);
}

// The later generation runs the whole sequence on every Detect and writes the library's path;
// the stopped service keeps the path it was created with, which the library must not look at.
// Then both generations through the real plug-in.
TEST(SafeNet, LaterGenerationThroughItsRuleLibraryThenBothGenerations) {
    if (ChildArgument().empty()) return RunWithEventLibrary("cmondll_double", "SafeNet.*");
    const std::string folder = kDoubles + "\\conapi_double\\", program = folder + "softremote.exe";
    const auto padded = [&](std::size_t length) { return folder + std::string(length - folder.size(), 'p'); };
    const struct { const char* name; std::string path, group; const char* steering; uint32_t detected, connected; std::string calls; } rows[] = {
        {"service stopped", "", "", "1", 0, 0, ""},
        {"second rule active", program, "", "01", 1, 1, "+ I S0 R N S1 C - "},
        {"no active byte of 1", program, "", "02", 1, 0, "+ I S0 R N N S1 C - "},
        {"no rules", program, "", "", 1, 0, "+ I S0 R S1 C - "},
        {"initialising fails", program, "", "1/I", 0, 0, "+ I - "},
        {"first stat-server call fails", program, "", "1/S", 0, 0, "+ I S0 C - "},
        {"258 characters, configuration beyond the first read", padded(258), std::string(5000, 'g'), "1", 1, 1, "+ I S0 R S1 C - "},
        {"259 characters", padded(259), "", "1", 0, 0, ""},
        {"no backslash", "softremote.exe", "", "1", 0, 0, ""},
    };
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
        log.Clear();
    }

    // With no current generation the earlier is asked first, but answers only once its event
    // library has taken the callback; a current generation is asked alone while it answers.
    service.SetProgramPath(program);
    CSafeNetVPNPlugIn plugIn;
    UniqueHandle logoff;
    const struct { const char* name; const char* steering; uint32_t event, connected; const char *conApi, *cmon; } steps[] = {
        {"only the later generation answers", "1", 0, 1, "+ I S0 R S1 C - ", ""},
        {"the later one, current, is asked alone", "0", 0, 0, "+ I S0 R N S1 C - ", ""},
        {"it stops answering: the earlier registers", "1/I", 0, 0, "+ I - ", "load version register 3 * "},
        {"the earlier stays current whatever the service does", "1", 1, 1, "", ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        SetEnvironmentVariableA(kConApiSteering, step.steering);
        if (step.event) RaiseIkeEvent(step.event);
        plugIn.Update();
        if (!logoff) logoff = SignalledLogoffEvent();
        EXPECT_EQ(plugIn.IsConnected(), step.connected);
        EXPECT_EQ(TakeCalls(kConApiCalls), step.conApi);
        EXPECT_EQ(TakeCalls(kCmonCalls), step.cmon);
    }
}

}  // namespace
