// A GCC-built host's managers through the real LinkSet.dll: adapter passes, and VPN detection on its 500 ms cycle.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <memory>

#include "child_process.h"  // and <windows.h>, <string>, <vector>, handles, test threads
#include "double_support.h"
#include "resource_counts.h"

namespace {

// Two managers half a tick apart share the process's tick count; each must still get its adapter passes.
TEST(ManagerContract, ManagersAliveTogetherEachGetTheirAdapterPasses) {
    std::vector<std::unique_ptr<ILinkSetManager, void (*)(ILinkSetManager*)>> managers;
    for (int i = 0; i < 2; ++i) {
        managers.emplace_back(LsCreateLinkSetManager(), &LsDeleteLinkSetManager);
        ASSERT_TRUE(managers.back());
        Sleep(250);
    }
    const auto passed = [&] {
        return managers[0]->GetChangeCount() > 0 && managers[1]->GetChangeCount() > 0;
    };
    for (DWORD waited = 0; waited < 20000 && !passed(); waited += 100) Sleep(100);  // ten ticks each, and room
    EXPECT_GT(managers[0]->GetChangeCount(), 0u);
    EXPECT_GT(managers[1]->GetChangeCount(), 0u);
}

// What the debugger is told: OutputDebugStringA raises DBG_PRINTEXCEPTION_C, seen here first.
std::string g_debuggerText;
LONG CALLBACK HearDebugger(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_C) g_debuggerText += reinterpret_cast<const char*>(record.ExceptionInformation[1]);
    return EXCEPTION_CONTINUE_SEARCH;
}

// A raised event reaches NetScreen and SafeNet; unloading a copy (Wine keeps the import) frees the library.
TEST(VpnContract, EveryKindAnswersThenUnloadingLetsTheEventLibraryGo) {
    const std::string copy = ThisExecutableFolder() + "\\LinkSetVpnUnload.dll";
    if (ChildArgument().empty()) {
        ASSERT_TRUE(CopyFileA((ThisExecutableFolder() + "\\LinkSet.dll").c_str(), copy.c_str(), FALSE));
        const ChildRun run = RunChild("VpnContract.EveryKind*", {.systemDouble = WinePath(CMONDLL_DOUBLE)});
        EXPECT_TRUE(ChildPassed(run)) << run.output;
        return (void)DeleteFileA(copy.c_str());
    }
    const UniqueHandle logoff(CreateEventA(nullptr, TRUE, TRUE, "crypt32LogoffEvent"));
    AddVectoredExceptionHandler(1, &HearDebugger);
    UniqueModule dll(LoadLibraryA(copy.c_str()));
    std::unique_ptr<ILinkSetManager, void (*)(ILinkSetManager*)> manager(
        ResolveEntryPoint<ILinkSetManager* (*)()>(dll.get(), "?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ")(),
        ResolveEntryPoint<void (*)(ILinkSetManager*)>(dll.get(), "?LsDeleteLinkSetManager@@YAXPEAVILinkSetManager@@@Z"));
    ASSERT_EQ(manager->OpenVPNDetector(1), LS_OK);
    const auto state = [&](int kind) {  // "result/status ", the status starting at 2, which no answer leaves
        uint32_t status = 2;
        const int32_t result = manager->CheckVPNStatus(static_cast<EPLUGINTYPE>(kind), &status);
        return std::to_string(result) + "/" + std::to_string(status) + " ";
    };
    const auto waitFor = [](auto done) { for (DWORD waited = 0; waited < 60000 && !done(); waited += 100) Sleep(100); };
    waitFor([] { return EnvironmentText(kCmonCalls).find("register") != std::string::npos; });
    ResolveEntryPoint<RaiseIkeEventFunction>(GetModuleHandleA("cmondll.dll"), "RaiseIkeEvent")(1);
    waitFor([&] { return state(PLUGIN_SAFENET) == "0/1 "; });  // the next update
    std::string states;
    for (int kind = PLUGIN_CISCO3000; kind <= PLUGIN_ALL; ++kind) states += state(kind);
    EXPECT_EQ(states, "0/0 0/1 0/0 0/1 0/0 0/0 0/0 0/0 0/1 ");
    uint32_t types[3] = {7, 7, 7}, count = 1, needed = 0;  // too small a count leaves the buffer alone
    EXPECT_EQ(manager->GetVPNDetectionResult(types, sizeof types, &count, &needed), LS_OK);
    EXPECT_EQ(std::vector<uint32_t>({count, needed, types[0]}), std::vector<uint32_t>({0, 2, 7}));
    count = 3;
    EXPECT_EQ(manager->GetVPNDetectionResult(types, sizeof types, &count, &needed), LS_OK);
    EXPECT_EQ(std::vector<uint32_t>({count, types[0], types[1], types[2]}), std::vector<uint32_t>({2, PLUGIN_NETSCREEN, PLUGIN_SAFENET, 7}));
    manager.reset();
    EXPECT_EQ(TakeCalls(kCmonCalls), "load version register 3 * ");
    dll.reset();
    EXPECT_EQ(TakeCalls(kCmonCalls), "unregister 31 * free ");
    EXPECT_EQ(g_debuggerText, "cmondll.dll is freed and destroyed\n");
    EXPECT_EQ(GetModuleHandleA("cmondll.dll"), nullptr);
}

}  // namespace
