// The manager through the real LinkSet.dll, as a GCC-built host uses it: a host's own table
// behind the manager, managers alive together, and nothing left behind by a host that creates and
// deletes managers again and again. (The start failure: reference_host, start_failure_test.cpp and
// the C++ layer's test; many host threads on every slot: the soak in tests/hardening.)
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "child_process.h"
#include "import_patch.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "system/handles.h"

namespace {

HMODULE LinkSetDll() { return GetModuleHandleA("LinkSet.dll"); }

// Committed private memory as Wine reports it (its private-bytes figure is always 0).
long long CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long long>(counters.PagefileUsage);
}

// The maintenance thread waits for its stop event before every tick: a manager's second wait
// means its first tick is over.
std::atomic<int> g_tickWaits{0};
decltype(&WaitForSingleObjectEx) g_realWait = nullptr;
DWORD WINAPI CountedWait(HANDLE handle, DWORD milliseconds, BOOL alertable) {
    ++g_tickWaits;
    return g_realWait(handle, milliseconds, alertable);
}

// A thousand managers created and deleted, each with detection open (the plug-ins of every kind,
// and the process's NetScreen detector built by the first of them), every hundredth living
// through its first tick and so both Remote Access passes on Wine's own rasapi32.dll, which knows
// no phone book. No phone-book port, no line, no handle and no heap byte left behind, and Remote
// Access goes with the last manager; its binding's standing reference holds it while a manager
// lives after a pass. The test holds it too while it counts: loading a library costs the system
// memory that is not the manager's. In a process of its own: the standing reference goes with
// the first manager the process deletes.
TEST(ManagerContract, ThousandManagersLeaveNoHandleNoMemoryAndNoRemoteAccess) {
    if (ChildArgument().empty()) return ExpectChildPasses({});
    constexpr int kWarmUp = 20, kCycles = 1000, kTickedEvery = 100;
    constexpr DWORD kBoundMs = 20000;  // a first tick this late means the manager hangs
    constexpr long long kCommitSlack = 1024 * 1024;  // a port record (6054 bytes) per cycle is 6 MB
    constexpr char kRasLibrary[] = "rasapi32.dll";
    const ImportPatch waits(LinkSetDll(), "KERNEL32.dll", "WaitForSingleObjectEx", &CountedWait, &g_realWait);
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    const auto cycle = [&](bool ticked) {
        const int waits = g_tickWaits;
        ILinkSetManager* manager = LsCreateLinkSetManager();
        ASSERT_NE(manager, nullptr);
        EXPECT_EQ(manager->OpenVPNDetector(1), LS_OK);
        for (DWORD waited = 0; ticked && g_tickWaits < waits + 2 && waited < kBoundMs; waited += 10) Sleep(10);
        EXPECT_TRUE(!ticked || IsModuleLoaded(kRasLibrary));
        std::vector<PORT_INFO> ports(64);
        uint32_t copied = 0, total = 0;
        manager->GetPorts(ports.data(), sizeof(PORT_INFO) * 64, &copied, &total, PORT_FILTER_ALL);
        for (uint32_t i = 0; i < copied; ++i) EXPECT_STRNE(ports[i].AdapterName, "NdisWanIp");
        LsDeleteLinkSetManager(manager);
    };
    cycle(true);
    EXPECT_FALSE(IsModuleLoaded(kRasLibrary));
    UniqueModule held(LoadLibraryA(kRasLibrary));
    for (int i = 0; i < kWarmUp; ++i) cycle(false);
    const HandleCount handles;
    const long long heapBefore = static_cast<long long>(HeapBytesInUse()), committedBefore = CommittedBytes();
    for (int i = 0; i < kCycles; ++i) cycle(i % kTickedEvery == 0);
    const long long heap = static_cast<long long>(HeapBytesInUse()) - heapBefore, committed = CommittedBytes() - committedBefore;
    std::printf("after %d create/delete cycles: %+ld handles, %+lld heap bytes in use, %+lld bytes committed\n",
                kCycles, handles.Added(), heap, committed);
    EXPECT_EQ(handles.Added(), 0);
    EXPECT_EQ(heap, 0);
    EXPECT_LT(committed, kCommitSlack);
    held.reset();
    EXPECT_FALSE(IsModuleLoaded(kRasLibrary)) << "the binding still holds Remote Access";
    EXPECT_EQ(log.Lines(), std::vector<std::string>{});
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
    const auto passed = [](ILinkSetManager* m) { return m->GetChangeCount() > 0; };
    for (DWORD waited = 0; waited < kBoundMs && !std::all_of(managers.begin(), managers.end(), passed); waited += 100) Sleep(100);
    for (size_t i = 0; i < managers.size(); ++i) EXPECT_GT(managers[i]->GetChangeCount(), 0u) << "manager " << i;
    for (ILinkSetManager* manager : managers) LsDeleteLinkSetManager(manager);
}

}  // namespace
