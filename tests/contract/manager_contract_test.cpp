// The manager through the real LinkSet.dll, as a GCC-built host uses it: created and deleted a
// thousand times, behind a host's own table, and failing to start inside a library the host
// then unloads. (Many host threads on every slot: the soak in tests/hardening.)
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
#include "library_exception.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "system/handles.h"

namespace {

using Manager = std::unique_ptr<ILinkSetManager, void (*)(ILinkSetManager*)>;
constexpr const char* kKernel = "KERNEL32.dll";

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
    const ImportPatch waits(GetModuleHandleA("LinkSet.dll"), kKernel, "WaitForSingleObjectEx", &CountedWait, &g_realWait);
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

// The start fails inside the library: the host takes the throw, unloads the library and lives
// on, so no thread of the failed manager may be left to run the unloaded code.
constexpr DWORD kLibraryWaitMs = 30000, kShortWaitMs = 100;  // the start's wait, and what the test makes of it
constexpr DWORD kTickWaitMs = 500, kSlowTickMs = 3000;       // so that the thread is between ticks when ended
bool g_waitFails = false;
decltype(&SetEvent) g_setEvent;
decltype(&WaitForMultipleObjectsEx) g_waitMultiple;
decltype(&WaitForSingleObject) g_waitSingle;
decltype(&WaitForSingleObjectEx) g_tick;
DWORD Shortened(DWORD ms) { return ms == kLibraryWaitMs ? kShortWaitMs : ms; }
BOOL WINAPI FakeSetEvent(HANDLE event) { return g_waitFails ? g_setEvent(event) : (SetLastError(ERROR_INVALID_HANDLE), FALSE); }
DWORD WINAPI FakeWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
    if (!g_waitFails) return g_waitMultiple(count, handles, all, Shortened(ms), alertable);
    g_waitMultiple(count, handles, all, ms, alertable);  // until the thread has reported
    return SetLastError(ERROR_INVALID_HANDLE), WAIT_FAILED;
}
DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD ms) { return g_waitSingle(handle, Shortened(ms)); }
DWORD WINAPI SlowTick(HANDLE handle, DWORD ms, BOOL alertable) { return g_tick(handle, ms == kTickWaitMs ? kSlowTickMs : ms, alertable); }

// Wine keeps what this executable imports loaded, so the host's library is a copy of the DLL.
TEST(StartFailure, TheHostTakesTheThrowUnloadsTheLibraryAndLivesOn) {
    constexpr const char* kFactory = "?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ";
    const std::pair<bool, const char*> cases[] = {  // whether the wait fails (else SetEvent), the line
        {false, "GenericThread:StartThread(ERROR) waiting for thread time out."},  // the thread goes on ticking
        {true, "GenericThread:StartThread(ERROR) waiting for thread returned unknown error."}};
    const std::string copy = ThisExecutableFolder() + "\\LinkSetUnloaded.dll";
    ASSERT_TRUE(CopyFileA((ThisExecutableFolder() + "\\LinkSet.dll").c_str(), copy.c_str(), FALSE));
    for (const auto& [waitFails, line] : cases) {
        SCOPED_TRACE(line);
        g_waitFails = waitFails;
        UniqueModule library(LoadLibraryA(copy.c_str()));
        ASSERT_TRUE(library);
        const HMODULE dll = library.get();
        RecordingDebugLog log;
        {
            ScopedDebugLog installed(log, ResolveEntryPoint<ScopedDebugLog::Setter>(dll, "?LsSetDebugOutput@@YAXPEAVIDebugLog@@@Z"));
            ImportPatch factory(ThisExecutable(), "LinkSet.dll", kFactory, ResolveEntryPoint<void*>(dll, kFactory));
            ImportPatch setEvent(dll, kKernel, "SetEvent", &FakeSetEvent, &g_setEvent);
            ImportPatch waitMultiple(dll, kKernel, "WaitForMultipleObjectsEx", &FakeWaitForMultipleObjectsEx, &g_waitMultiple);
            ImportPatch waitSingle(dll, kKernel, "WaitForSingleObject", &FakeWaitForSingleObject, &g_waitSingle);
            ImportPatch tick(dll, kKernel, "WaitForSingleObjectEx", &SlowTick, &g_tick);
            CQndException* failure = nullptr;
            EXPECT_EQ(CreateManagerCatchingFailure(&failure), nullptr);
            ASSERT_NE(failure, nullptr);
            failure->Delete();
        }
        EXPECT_TRUE(log.WroteOnly(line));
        library.reset();
        ASSERT_EQ(GetModuleHandleA("LinkSetUnloaded.dll"), nullptr);
        Sleep(4000);  // a thread left behind would have run unloaded code by then
    }
    DeleteFileA(copy.c_str());
}

}  // namespace
