// A GCC-built host's managers through the real LinkSet.dll. (Slot 1 of a host's own table: reference_host.)
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include "child_process.h"  // and <windows.h>, <string>, <vector>, handles, test threads
#include "import_patch.h"
#include "recording_log.h"
#include "resource_counts.h"

#include <psapi.h>

namespace {

// The maintenance thread waits for its stop event before every tick: a second wait ends the first.
std::atomic<int> g_tickWaits{0};
decltype(&WaitForSingleObjectEx) g_realWait = nullptr;
DWORD WINAPI CountedWait(HANDLE handle, DWORD ms, BOOL alertable) { return ++g_tickWaits, g_realWait(handle, ms, alertable); }

// Every hundredth manager ticks, so Remote Access passes on Wine's rasapi32.dll. In a child (a first
// delete drops a standing reference); held while counting, the library must go with the last manager.
TEST(ManagerContract, ThousandManagersLeaveNoHandleNoMemoryAndNoRemoteAccess) {
    if (ChildArgument().empty()) return ExpectChildPasses({});
    const ImportPatch waits(GetModuleHandleA("LinkSet.dll"), "KERNEL32.dll", "WaitForSingleObjectEx", &CountedWait, &g_realWait);
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    const auto cycle = [](bool ticked) {
        const int waits = g_tickWaits;
        const std::unique_ptr<ILinkSetManager, void (*)(ILinkSetManager*)> manager(LsCreateLinkSetManager(), &LsDeleteLinkSetManager);
        ASSERT_TRUE(manager);
        EXPECT_EQ(manager->OpenVPNDetector(1), LS_OK);  // the plug-ins of every kind
        for (DWORD waited = 0; ticked && g_tickWaits < waits + 2 && waited < 20000; waited += 10) Sleep(10);
        EXPECT_TRUE(!ticked || IsModuleLoaded("rasapi32.dll"));
    };
    cycle(true);
    EXPECT_FALSE(IsModuleLoaded("rasapi32.dll"));
    UniqueModule held(LoadLibraryA("rasapi32.dll"));
    for (int i = 0; i < 20; ++i) cycle(false);  // what the process keeps for good
    const HandleCount handles;
    const auto committedBytes = [] {  // as Wine reports it: its private-bytes figure is always 0
        PROCESS_MEMORY_COUNTERS counters = {};
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        return static_cast<long long>(counters.PagefileUsage);
    };
    const long long heap = static_cast<long long>(HeapBytesInUse()), committed = committedBytes();
    for (int i = 0; i < 1000; ++i) cycle(i % 100 == 0);
    EXPECT_EQ(handles.Added(), 0);
    EXPECT_EQ(static_cast<long long>(HeapBytesInUse()) - heap, 0);
    EXPECT_LT(committedBytes() - committed, 1 << 20);  // a port record lost per cycle is 6 MB
    held.reset();
    EXPECT_FALSE(IsModuleLoaded("rasapi32.dll")) << "the binding still holds Remote Access";
    EXPECT_EQ(log.Lines(), std::vector<std::string>{});
}

// Managers alive together share the process's tick count. Two of them half a tick apart take turns
// with it, so every remainder that starts a pass falls to one of them; the other must still get its
// passes, here the first one, which moves its change count.
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

}  // namespace
