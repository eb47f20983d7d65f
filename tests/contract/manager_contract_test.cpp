// The manager through the real LinkSet.dll, as a GCC-built host uses it: created and deleted a
// thousand times, and behind a host's own table. (Many host threads on every slot: the soak in
// tests/hardening; a start that fails in a library the host then unloads: reference_oom.)
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "import_patch.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "system/handles.h"

namespace {

using Manager = std::unique_ptr<ILinkSetManager, void (*)(ILinkSetManager*)>;

// Committed private memory as Wine reports it (its private-bytes figure is always 0).
long long CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long long>(counters.PagefileUsage);
}

// The maintenance thread waits for its stop event before every tick: a second wait means the
// first tick is over.
std::atomic<int> g_tickWaits{0};
decltype(&WaitForSingleObjectEx) g_realWait = nullptr;
DWORD WINAPI CountedWait(HANDLE handle, DWORD ms, BOOL alertable) { return ++g_tickWaits, g_realWait(handle, ms, alertable); }

// Every hundredth manager lives through its first tick, and so both Remote Access passes on
// Wine's rasapi32.dll. The test holds Remote Access while it counts (loading a library costs
// memory that is not the manager's); it must go with the last manager. In a child: the
// binding's standing reference goes with the first manager the process deletes.
TEST(ManagerContract, ThousandManagersLeaveNoHandleNoMemoryAndNoRemoteAccess) {
    if (ChildArgument().empty()) return ExpectChildPasses({});
    const ImportPatch waits(GetModuleHandleA("LinkSet.dll"), "KERNEL32.dll", "WaitForSingleObjectEx", &CountedWait, &g_realWait);
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    const auto cycle = [](bool ticked) {
        const int waits = g_tickWaits;
        const Manager manager(LsCreateLinkSetManager(), &LsDeleteLinkSetManager);
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
    const long long heap = static_cast<long long>(HeapBytesInUse()), committed = CommittedBytes();
    for (int i = 0; i < 1000; ++i) cycle(i % 100 == 0);
    EXPECT_EQ(handles.Added(), 0);
    EXPECT_EQ(static_cast<long long>(HeapBytesInUse()) - heap, 0);
    EXPECT_LT(CommittedBytes() - committed, 1 << 20);  // a port record lost per cycle is 6 MB
    held.reset();
    EXPECT_FALSE(IsModuleLoaded("rasapi32.dll")) << "the binding still holds Remote Access";
    EXPECT_EQ(log.Lines(), std::vector<std::string>{});
}

// A host may give its manager a table of its own: the address queries read the ports through
// its slot 1, as the host's own calls would.
constexpr uint32_t kReplacedGateway = 0x0102A8C0;  // 192.168.2.1
int32_t ReplacedGetPorts(ILinkSetManager*, PORT_INFO* buffer, uint32_t bytes, uint32_t* copied, uint32_t* total, int32_t) {
    *total = 1;
    if ((*copied = bytes >= sizeof *buffer ? 1 : 0) == 0) return LS_OK;
    *buffer = PORT_INFO{};
    buffer->IpAddress = buffer->Gateway = kReplacedGateway;
    buffer->HasIpAddress = buffer->HasGateway = 1;
    return LS_OK;
}

TEST(ManagerContract, AddressQueriesReadThePortsThroughSlotOne) {
    const Manager manager(LsCreateLinkSetManager(), &LsDeleteLinkSetManager);
    ASSERT_TRUE(manager);
    void** const table = *reinterpret_cast<void***>(manager.get());
    void* replaced[10];
    std::copy(table, table + 10, replaced);
    replaced[1] = reinterpret_cast<void*>(&ReplacedGetPorts);
    *reinterpret_cast<void***>(manager.get()) = replaced;
    uint32_t gateway = 0, count = 0;
    EXPECT_EQ(manager->GetGateways(&gateway, sizeof gateway, &count), LS_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(gateway, kReplacedGateway);
    *reinterpret_cast<void***>(manager.get()) = table;
}

}  // namespace
