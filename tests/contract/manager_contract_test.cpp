// The manager through the real LinkSet.dll, as a GCC-built host uses it: the start failure
// taken without crashing, many hosts' threads at once, and nothing left behind by a host that
// creates and deletes managers again and again.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "import_patch.h"
#include "library_exception.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "system/handles.h"
#include "test_threads.h"

namespace {

HMODULE LinkSetDll() { return GetModuleHandleA("LinkSet.dll"); }

HANDLE WINAPI FailingCreateEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

TEST(ManagerContract, AGccBuiltHostTakesTheStartFailureAndCanTryAgain) {
    RecordingDebugLog log;
    ScopedDebugLog installed(log, &LsSetDebugOutput);
    CQndException* failure = nullptr;
    {
        ImportPatch noEvents(LinkSetDll(), "KERNEL32.dll", "CreateEventA", reinterpret_cast<void*>(&FailingCreateEvent));
        EXPECT_EQ(CreateManagerCatchingFailure(&failure), nullptr);
    }
    ASSERT_NE(failure, nullptr);
    EXPECT_STREQ(failure->Reason.c_str(), "<LinkSetMgr>:: failed to start maintenance thread.");
    EXPECT_STREQ(failure->TypeName.c_str(), "QndException");
    failure->Delete();
    EXPECT_TRUE(log.WroteOnly("GenericThread:StartThread(ERROR) failed to create running event."));

    ILinkSetManager* manager = CreateManagerCatchingFailure(&failure);
    EXPECT_NE(manager, nullptr);
    EXPECT_EQ(failure, nullptr);
    LsDeleteLinkSetManager(manager);
    // One function serves both delete exports.
    EXPECT_EQ(GetProcAddress(LinkSetDll(), MAKEINTRESOURCEA(4)), GetProcAddress(LinkSetDll(), MAKEINTRESOURCEA(5)));
}

// Every slot from several host threads while the cycle runs and detection opens and closes.
TEST(ManagerContract, HostThreadsOnEverySlotWhileTheCycleRuns) {
    ILinkSetManager* manager = LsCreateLinkSetManager();
    ASSERT_NE(manager, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0}, wrong{0};
    auto hammer = [&](int seed) {
        std::vector<PORT_INFO> ports(8);
        uint32_t addresses[32 * 200];
        for (int i = seed; !stop; ++i) {
            uint32_t copied = 0, total = 0, count = 0, needed = 0, status = 0;
            switch (i % 7) {
                case 0: wrong += manager->GetPorts(ports.data(), 8 * sizeof(PORT_INFO), &copied, &total, i % 3) != LS_OK; break;
                case 1: manager->GetGateways(addresses, sizeof addresses, &count); break;
                case 2: manager->GetDnsServers(addresses, sizeof addresses, &count); break;
                case 3: manager->GetWinsServers(addresses, sizeof addresses, &count); break;
                case 4: wrong += manager->OpenVPNDetector(i % 2) != LS_OK; break;
                case 5: manager->GetVPNDetectionResult(nullptr, 0, &count, &needed); break;
                case 6: manager->CheckVPNStatus(PLUGIN_ALL, &status); manager->IsVPNDetectorOpen(); manager->GetChangeCount(); break;
            }
            ++calls;
        }
    };
    std::vector<TestThread> hosts;
    for (int seed = 0; seed < 4; ++seed) hosts.emplace_back([&hammer, seed] { hammer(seed); });
    // Up to ten ticks until an adapter pass (the tick count is the process's, not the manager's).
    for (int waited = 0; waited < 7000 && manager->GetChangeCount() == 0; waited += 100) Sleep(100);
    Sleep(1000);
    stop = true;
    hosts.clear();
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(calls, 1000);
    EXPECT_GE(manager->GetChangeCount(), 1u);
    LsDeleteLinkSetManager(manager);
}

// Committed private memory as Wine reports it (its private-bytes figure is always 0).
long long CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long long>(counters.PagefileUsage);
}

TEST(ManagerContract, ThousandCreateDeleteCyclesLeaveNoHandleAndNoMemory) {
    constexpr int kWarmUp = 20, kCycles = 1000;
    // A leak of one port record (6054 bytes) per cycle would be 6 MB; these bound what is noise.
    constexpr long long kHeapSlack = 16 * 1024;
    constexpr long long kCommitSlack = 1024 * 1024;
    auto cycle = [] {
        ILinkSetManager* manager = LsCreateLinkSetManager();
        ASSERT_NE(manager, nullptr);
        LsDeleteLinkSetManager(manager);
    };
    for (int i = 0; i < kWarmUp; ++i) cycle();
    const long handlesBefore = ProcessHandleCount();
    const long long heapBefore = static_cast<long long>(HeapBytesInUse()), committedBefore = CommittedBytes();
    for (int i = 0; i < kCycles; ++i) cycle();
    const long handles = ProcessHandleCount() - handlesBefore;
    const long long heap = static_cast<long long>(HeapBytesInUse()) - heapBefore;
    const long long committed = CommittedBytes() - committedBefore;
    std::printf("after %d create/delete cycles: %+ld handles, %+lld heap bytes in use, %+lld bytes committed\n",
                kCycles, handles, heap, committed);
    EXPECT_EQ(handles, 0);
    EXPECT_LT(heap, kHeapSlack);
    EXPECT_LT(committed, kCommitSlack);
}

}  // namespace
