// Remote Access through the real LinkSet.dll against Wine's own rasapi32.dll, which knows no
// phone book and no connection and has several bare stubs: managers created and deleted a
// thousand times, every hundredth living through its first tick and so both Remote Access passes.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "import_patch.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "system/handles.h"

namespace {

constexpr char kRasLibrary[] = "rasapi32.dll";

// The maintenance thread waits for its stop event before every tick: a manager's second wait
// means its first tick is over.
std::atomic<int> g_tickWaits{0};
decltype(&WaitForSingleObjectEx) g_realWait = nullptr;
DWORD WINAPI CountedWait(HANDLE handle, DWORD milliseconds, BOOL alertable) {
    ++g_tickWaits;
    return g_realWait(handle, milliseconds, alertable);
}

// No phone-book port, no line, nothing left open, and the library goes with the last manager; the
// binding's standing reference holds it while a manager lives after a pass. The test holds it
// too while it counts: loading a library costs the system memory that is not the manager's.
TEST(RasContract, ManagersOnWinesOwnRemoteAccessShowNoPhoneBookAndLeaveNothingBehind) {
    constexpr int kWarmUp = 20, kCycles = 1000, kTickedEvery = 100;
    constexpr DWORD kBoundMs = 20000;  // a first tick this late means the manager hangs
    const ImportPatch waits(GetModuleHandleA("LinkSet.dll"), "KERNEL32.dll", "WaitForSingleObjectEx", &CountedWait,
                            &g_realWait);
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    auto cycle = [&](bool ticked) {
        const int waits = g_tickWaits;
        ILinkSetManager* manager = LsCreateLinkSetManager();
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
    const unsigned long long heapBefore = HeapBytesInUse();
    for (int i = 0; i < kCycles; ++i) cycle(i % kTickedEvery == 0);
    EXPECT_EQ(handles.Added(), 0);
    EXPECT_EQ(static_cast<long long>(HeapBytesInUse() - heapBefore), 0);
    held.reset();
    EXPECT_FALSE(IsModuleLoaded(kRasLibrary)) << "the binding still holds Remote Access";
    EXPECT_EQ(log.Lines(), std::vector<std::string>{});
}

}  // namespace
