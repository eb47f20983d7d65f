// The manager with its real maintenance thread: contained failures and a shutdown that must not
// hang. The first adapter pass on the real machine is checked by the reference host.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>

#include <linkset/linkset.h>

#include "boundary/exception.h"
#include "import_patch.h"
#include "manager/LinkSetMgr.h"
#include "recording_log.h"
#include "system/handles.h"
#include "vpn/plugin_catalog.h"

namespace {

constexpr DWORD kBoundMs = 20000;  // a wait this long means the thing under test hangs

// A plug-in whose Update runs what the test sets; it runs on the maintenance thread inside the
// manager's VPN lock and the detector's lock.
std::function<void()> g_onUpdate;
std::atomic<int> g_updates{0};

class HookPlugIn final : public IVPNPlugIn {
public:
    int32_t GetName(outputstr*) override { return kPlugInNoText; }
    int32_t GetDescription(outputstr*) override { return kPlugInNoText; }
    uint32_t GetType() override { return PLUGIN_CISCO3000; }
    void Update() override {
        ++g_updates;
        g_refreshTick = 0;  // every tick of this test is an adapter tick
        if (g_onUpdate) g_onUpdate();
    }
    uint32_t IsConnected() override { return 0; }
};
constexpr PlugInClass kHookCatalog[] = {{PLUGIN_CISCO3000, &MakePlugIn<HookPlugIn>}};

bool WaitFor(const std::function<bool()>& condition) {
    for (DWORD waited = 0; waited < kBoundMs; waited += 20) {
        if (condition()) return true;
        Sleep(20);
    }
    return condition();
}

class MaintenanceCycle : public ::testing::Test {
protected:
    void SetUp() override {
        g_updates = 0;
        g_onUpdate = nullptr;
        g_refreshTick = 0;
    }
    void TearDown() override { g_onUpdate = nullptr; }
    RecordingDebugLog log;
    ScopedDebugLog installed{log, &LsSetDebugOutput};
};

TEST_F(MaintenanceCycle, FailedTicksAreReportedAndTheCycleGoesOn) {
    std::atomic<int> calls{0};
    g_onUpdate = [&] {
        switch (++calls) {
            case 1: throw CreateQndException(outputstr("scripted failure"), "test", 1);
            case 2:
            case 3: throw std::runtime_error("out of something");  // the same failure twice
            default: break;
        }
    };
    CLinkSetManager manager(CLinkSetManager::Start::WithMaintenanceThread, kHookCatalog);
    ASSERT_EQ(manager.OpenVPNDetector(1), LS_OK);
    ASSERT_TRUE(WaitFor([&] { return calls >= 5; }));
    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "=======EXCEPTION: QndException ==== \nReason Code: 0, Reason:scripted failure\n",
                         "<LinkSetMgr>: maintenance tick failed; the cycle goes on.\n"}));
}

// StopThread's 30-second grace period, cut short so the test does not wait it out.
DWORD(WINAPI* g_realWait)(HANDLE, DWORD) = nullptr;
DWORD WINAPI ShortWait(HANDLE handle, DWORD milliseconds) {
    return g_realWait(handle, milliseconds == 30000 ? 300 : milliseconds);
}

DWORD WINAPI DeleteManager(void* manager) {
    delete static_cast<CLinkSetManager*>(manager);
    return 0;
}

TEST_F(MaintenanceCycle, ShutdownOfAThreadStuckInsideTheLocksDoesNotHang) {
    UniqueHandle entered(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    g_onUpdate = [&] {
        SetEvent(entered.get());
        WaitForSingleObject(never.get(), INFINITE);  // stuck with the VPN and detector locks held
    };
    auto* manager = new CLinkSetManager(CLinkSetManager::Start::WithMaintenanceThread, kHookCatalog);
    ASSERT_EQ(manager->OpenVPNDetector(1), LS_OK);
    ASSERT_EQ(WaitForSingleObject(entered.get(), kBoundMs), WAIT_OBJECT_0);

    ImportPatch shortStop(ThisExecutable(), "KERNEL32.dll", "WaitForSingleObject", &ShortWait, &g_realWait);
    UniqueHandle deleter(CreateThread(nullptr, 0, &DeleteManager, manager, 0, nullptr));
    EXPECT_EQ(g_realWait(deleter.get(), kBoundMs), WAIT_OBJECT_0) << "deleting the manager hangs";
    const std::vector<std::string> lines = log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "This thread is active! It will be terminated!\n"), lines.end());
}

}  // namespace
