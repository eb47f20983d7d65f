// The manager through the real LinkSet.dll, as a GCC-built host uses it: the start failure
// taken without crashing, many hosts' threads at once, and nothing left behind by a host that
// creates and deletes managers again and again.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
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

// A host may give its manager a table of its own with another slot 1: the address queries read
// the ports through that slot, as the host's own calls would.
constexpr uint32_t kReplacedGateway = 0x0102A8C0;  // 192.168.2.1
int32_t ReplacedGetPorts(ILinkSetManager*, PORT_INFO* buffer, uint32_t bytes, uint32_t* copied, uint32_t* total, int32_t) {
    PORT_INFO port = {};
    port.IpAddress = port.Gateway = kReplacedGateway;
    port.HasIpAddress = port.HasGateway = 1;
    *total = 1;
    *copied = bytes >= sizeof port ? 1 : 0;
    if (*copied) std::memcpy(buffer, &port, sizeof port);
    return LS_OK;
}

TEST(ManagerContract, AddressQueriesReadThePortsThroughSlotOne) {
    constexpr int kSlots = 10;
    ILinkSetManager* manager = LsCreateLinkSetManager();
    ASSERT_NE(manager, nullptr);
    void** const table = *reinterpret_cast<void***>(manager);
    void* replaced[kSlots];
    std::copy(table, table + kSlots, replaced);
    replaced[1] = reinterpret_cast<void*>(&ReplacedGetPorts);
    *reinterpret_cast<void***>(manager) = replaced;
    uint32_t gateway = 0, count = 0;
    EXPECT_EQ(manager->GetGateways(&gateway, sizeof gateway, &count), LS_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(gateway, kReplacedGateway);
    *reinterpret_cast<void***>(manager) = table;
    LsDeleteLinkSetManager(manager);
}

// Managers alive at the same time share the process's tick count. Two of them half a tick apart
// take turns with it, so every remainder that starts a pass falls to the same one; the other must
// still get its passes, here the first one, which moves its change count.
TEST(ManagerContract, ManagersAliveTogetherEachGetTheirAdapterPasses) {
    constexpr DWORD kBoundMs = 20000;  // ten ticks of each manager's own, with room to spare
    std::vector<ILinkSetManager*> managers;
    for (int i = 0; i < 2; ++i) {
        managers.push_back(LsCreateLinkSetManager());
        ASSERT_NE(managers.back(), nullptr);
        Sleep(250);
    }
    auto allPassed = [&] {
        return std::all_of(managers.begin(), managers.end(), [](ILinkSetManager* m) { return m->GetChangeCount() > 0; });
    };
    for (DWORD waited = 0; waited < kBoundMs && !allPassed(); waited += 100) Sleep(100);
    for (size_t i = 0; i < managers.size(); ++i) EXPECT_GT(managers[i]->GetChangeCount(), 0u) << "manager " << i;
    for (ILinkSetManager* manager : managers) LsDeleteLinkSetManager(manager);
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
