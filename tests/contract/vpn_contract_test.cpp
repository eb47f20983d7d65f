// VPN detection through the real LinkSet.dll and its 500 ms cycle, as a GCC-built host sees it.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.h"
#include "client_library_double.h"
#include "resource_counts.h"
#include "system/handles.h"
#include "test_threads.h"
#include "../vpn/vpn_traces.h"

namespace {

// Six seconds of changes span more than ten ticks; a wait beyond many detector updates is a hang.
constexpr DWORD kFlips = 60, kFlipMs = 100, kBoundMs = 60000;

// A kind's result and status as "result/status "; the status starts at 2, which no answer leaves.
std::string StatusText(ILinkSetManager* manager, int kind) {
    uint32_t status = 2;
    const int32_t result = manager->CheckVPNStatus(static_cast<EPLUGINTYPE>(kind), &status);
    return std::to_string(result) + "/" + std::to_string(status) + " ";
}

// Host threads on the VPN slots while the clients' traces change underneath; then, with three
// clients' traces holding still, every form of the two queries.
TEST(VpnContract, HostThreadsWhileTracesChangeThenEveryFormOfTheQueries) {
    RegistryScenario registry({kCiscoKey, kCheckpointKey, kAventailKey, kJuniperKey32BitView});
    ILinkSetManager* manager = LsCreateLinkSetManager();
    ASSERT_EQ(manager->OpenVPNDetector(1), LS_OK);
    std::atomic<bool> stop{false};
    std::atomic<long> wrong{0};
    const auto host = [&] {
        for (uint32_t i = 0; !stop; ++i) {
            uint32_t status = 0, types[PLUGIN_ALL], count = PLUGIN_ALL, needed = 0;
            const int32_t answer = manager->CheckVPNStatus(static_cast<EPLUGINTYPE>(i % PLUGIN_ALL + 1), &status);
            wrong += (answer != LS_OK && answer != LS_ERROR_NO_PLUGIN) || status > 1 ||
                     manager->GetVPNDetectionResult(types, sizeof types, &count, &needed) != LS_OK || count != needed;
        }
    };
    TestThread hosts[] = {TestThread(host), TestThread(host), TestThread(host)};
    for (DWORD flip = 0; flip < kFlips; ++flip, Sleep(kFlipMs)) {
        SetTunnelValues(registry, flip % 3 * 2, flip % 2, flip % 4);  // 2 and 4 besides 0 and 1
        if (flip % 2) registry.CreateKey(kJuniperKey32BitView);
        else RegDeleteTreeA(HKEY_LOCAL_MACHINE, kJuniperKey32BitView);
    }
    SetTunnelValues(registry, 1, 1, 1);
    uint32_t types[PLUGIN_ALL] = {}, count = 0, needed = 0;
    for (DWORD waited = 0; waited < kBoundMs && needed != 3; waited += kFlipMs, Sleep(kFlipMs))
        manager->GetVPNDetectionResult(nullptr, 0, &count, &needed);
    stop = true;
    for (TestThread& each : hosts) EXPECT_TRUE(each.Join(kBoundMs)) << "a host thread hangs";
    EXPECT_EQ(wrong, 0);

    // A null buffer, too few bytes, too small a count, enough room: the count written of the count
    // needed, and whether the buffer was left alone.
    constexpr uint32_t kUntouched = 0xEEEEEEEE;
    std::fill(std::begin(types), std::end(types), kUntouched);
    std::string answers;
    for (const auto& [offered, bytes] : {std::pair{0u, 0u}, {3u, 11u}, {2u, sizeof types}, {PLUGIN_ALL, sizeof types}}) {
        count = offered;
        answers += std::to_string(manager->GetVPNDetectionResult(bytes ? types : nullptr, bytes, &count, &needed));
        answers += ": " + std::to_string(count) + " of " + std::to_string(needed);
        answers += types[0] == kUntouched ? " untouched, " : ", ";
    }
    EXPECT_EQ(answers, "0: 0 of 3 untouched, 0: 0 of 3 untouched, 0: 0 of 3 untouched, 0: 3 of 3, ");
    EXPECT_EQ(std::vector<uint32_t>(types, types + 4),
              (std::vector<uint32_t>{PLUGIN_CISCO3000, PLUGIN_CHECKPOINT, PLUGIN_AVENTAIL, kUntouched}));
    std::string states;  // of each kind, and of all
    for (int kind : {PLUGIN_CISCO3000, PLUGIN_CHECKPOINT, PLUGIN_AVENTAIL, PLUGIN_ALCATEL, PLUGIN_JUNIPERSSL, PLUGIN_ALL})
        states += StatusText(manager, kind);
    EXPECT_EQ(states, "0/1 0/1 0/1 0/0 0/0 0/1 ");
    LsDeleteLinkSetManager(manager);
}

// What the debugger is told: OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the text, which
// a vectored handler sees before the system's own handler takes it.
std::string g_debuggerText;
LONG CALLBACK HearDebugger(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_C) g_debuggerText += reinterpret_cast<const char*>(record.ExceptionInformation[1]);
    return EXCEPTION_CONTINUE_SEARCH;
}

// NetScreen's event library in the system directory and the logoff event set: the first update
// registers, and an event the library raises reaches the NetScreen and SafeNet kinds. Unloading
// the DLL (a copy: Wine keeps what the executable imports) unregisters, then frees the library.
TEST(VpnContract, EveryKindAnswersThenUnloadingLetsTheEventLibraryGo) {
    const std::string copy = ThisExecutableFolder() + "\\LinkSetVpnUnload.dll";
    if (ChildArgument().empty()) {
        ASSERT_TRUE(CopyFileA((ThisExecutableFolder() + "\\LinkSet.dll").c_str(), copy.c_str(), FALSE));
        const ChildRun run = RunChild("VpnContract.EveryKind*", {.systemDouble = WinePath(CMONDLL_DOUBLE)});
        DeleteFileA(copy.c_str());
        EXPECT_TRUE(ChildPassed(run)) << run.output;
        return;
    }
    const UniqueHandle logoff(CreateEventA(nullptr, TRUE, TRUE, "crypt32LogoffEvent"));
    AddVectoredExceptionHandler(1, &HearDebugger);
    UniqueModule dll(LoadLibraryA(copy.c_str()));
    ILinkSetManager* manager = ResolveEntryPoint<ILinkSetManager* (*)()>(dll.get(), "?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ")();
    ASSERT_EQ(manager->OpenVPNDetector(1), LS_OK);
    const auto waitFor = [](auto done) { for (DWORD waited = 0; waited < kBoundMs && !done(); waited += kFlipMs) Sleep(kFlipMs); };
    waitFor([] { return EnvironmentText(kCmonCalls).find("register") != std::string::npos; });
    ResolveEntryPoint<RaiseIkeEventFunction>(GetModuleHandleA("cmondll.dll"), "RaiseIkeEvent")(1);
    waitFor([&] { return StatusText(manager, PLUGIN_SAFENET) == "0/1 "; });  // the next update
    std::string states;
    for (int kind = PLUGIN_CISCO3000; kind <= PLUGIN_ALL; ++kind) states += StatusText(manager, kind);
    EXPECT_EQ(states, "0/0 0/1 0/0 0/1 0/0 0/0 0/0 0/0 0/1 ");
    ResolveEntryPoint<void (*)(ILinkSetManager*)>(dll.get(), "?LsDeleteLinkSetManager@@YAXPEAVILinkSetManager@@@Z")(manager);
    EXPECT_EQ(TakeCalls(kCmonCalls), "load version register 3 * ");
    dll.reset();
    EXPECT_EQ(TakeCalls(kCmonCalls), "unregister 31 * free ");
    EXPECT_EQ(g_debuggerText, "cmondll.dll is freed and destroyed\n");
    EXPECT_FALSE(IsModuleLoaded("cmondll.dll"));
}

}  // namespace
