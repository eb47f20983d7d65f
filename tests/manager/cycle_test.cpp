// The maintenance cycle: which ticks run which passes, failures contained in a tick, a shutdown
// that waits for a running tick and must not hang on a stuck one, and the detector's configuration.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <functional>
#include <memory>
#include <string>

#include <linkset/linkset.h>

#include "boundary/exception.h"
#include "import_patch.h"
#include "machine.h"
#include "manager_harness.h"
#include "recording_log.h"
#include "system/handles.h"
#include "test_threads.h"
#include "vpn/plugin_catalog.h"
#include "vpn/vpn_detector.h"

namespace {

constexpr DWORD kBoundMs = 20000;  // a wait this long means the thing under test hangs

// A plug-in whose Update runs what the test sets, on the maintenance thread inside the manager's
// VPN lock and the detector's lock; its life is noted in the journal.
std::function<void()> g_onUpdate;
std::atomic<int> g_updates{0};
std::string g_journal;

class HookPlugIn final : public IVPNPlugIn {
public:
    HookPlugIn() { g_journal += "built;"; }
    ~HookPlugIn() override { g_journal += "deleted;"; }
    int32_t GetName(outputstr*) override { return kPlugInNoText; }
    int32_t GetDescription(outputstr*) override { return kPlugInNoText; }
    uint32_t GetType() override { return PLUGIN_CISCO3000; }
    void Update() override { ++g_updates; if (g_onUpdate) g_onUpdate(); }
    uint32_t IsConnected() override { return 0; }
};
constexpr PlugInClass kHookCatalog[] = {{PLUGIN_CISCO3000, &MakePlugIn<HookPlugIn>}};

class Cycle : public ::testing::Test {
protected:
    void SetUp() override { g_updates = 0, g_onUpdate = nullptr, g_journal.clear(), g_refreshTick = 0; }
    void TearDown() override { g_onUpdate = nullptr; }

    using OwnedManager = std::unique_ptr<CLinkSetManager, decltype(&DeleteManager)>;
    // A manager whose maintenance thread is inside its first tick, in the plug-in's Update, doing `rest`.
    OwnedManager InsideATick(std::function<void()> rest) {
        g_onUpdate = [this, rest] { SetEvent(entered.get()); rest(); };
        OwnedManager manager(new CLinkSetManager(CLinkSetManager::Start::WithMaintenanceThread, kHookCatalog), &DeleteManager);
        EXPECT_EQ(manager->OpenVPNDetector(1), LS_OK);
        EXPECT_EQ(WaitForSingleObject(entered.get(), kBoundMs), WAIT_OBJECT_0);
        return manager;
    }

    RecordingDebugLog log;
    ScopedDebugLog installed{log, &LsSetDebugOutput};
    UniqueHandle entered{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

// By the process's count: a remainder of 1 by 10 runs the adapter pass and the detector's update,
// the phone-book pass follows on 1 by 3600 or after a changed adapter pass; other ticks only count.
TEST_F(Cycle, PassesAndDetectorUpdateRunOnTheirTicksOnly) {
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{A}", MIB_IF_TYPE_ETHERNET, 1, "10.7.0.1")};
    machine.ras = FakeRas{};
    MachineScope scope(machine);
    const auto adapterListCalls = ResolveEntryPoint<AdapterListCallsFunction>(GetModuleHandleA("iphlpapi.dll"), "AdapterListCalls");
    const auto phoneBookListings = ResolveEntryPoint<PhoneBookListingsFunction>(GetModuleHandleA("rasapi32.dll"), "PhoneBookListings");
    ASSERT_TRUE(adapterListCalls && phoneBookListings);
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread, kHookCatalog);
    ASSERT_EQ(manager.OpenVPNDetector(1), LS_OK);
    ManagerProbe probe(manager);
    const struct { int32_t tick; const char* address; bool adapterPass, phoneBookPass; } ticks[] = {
        {1, "10.7.0.1", true, true},    {2, "10.7.0.1", false, false},  {10, "10.7.0.2", false, false},
        {11, "10.7.0.2", true, true},   {21, "10.7.0.2", true, false},  {3600, "10.7.0.2", false, false},
        {3601, "10.7.0.2", true, true}, {-9, "10.7.0.2", false, false}, {INT_MAX, "10.7.0.3", false, false}};
    for (const auto& row : ticks) {
        SCOPED_TRACE(row.tick);  // the adapter has row.address from this tick on
        machine.ipHelper.adapters[0].addresses = {{row.address, "255.255.255.0"}};
        scope.SetIpHelper(machine.ipHelper);
        const LONG calls = adapterListCalls(), listings = phoneBookListings();
        const int updates = g_updates;
        probe.Tick(row.tick);
        EXPECT_EQ(adapterListCalls() != calls, row.adapterPass);
        EXPECT_EQ(phoneBookListings() != listings, row.phoneBookPass);
        EXPECT_EQ(g_updates - updates, row.adapterPass ? 1 : 0);
    }
}

// Managers ticking in step share the process's count; none may starve. One alone keeps the count's rhythm.
TEST(PassSchedule, NoManagerStarvesAndOneAloneKeepsTheRhythmOfTheCount) {
    for (const int managers : {1, 2, 3}) {
        SCOPED_TRACE(managers);
        std::vector<PassSchedule> schedules(managers, PassSchedule(10));
        std::vector<int> passes(managers, 0);
        for (int32_t tick = 5; tick < 5 + 100 * managers; ++tick) {
            const int which = tick % managers;
            const bool due = schedules[which].Due(tick, managers > 1);
            passes[which] += due;
            if (managers == 1) { EXPECT_EQ(due, tick % 10 == 1) << tick; }
        }
        for (int count : passes) EXPECT_GE(count, 9);
    }
}

TEST_F(Cycle, FailedTicksAreReportedAndTheCycleGoesOn) {
    std::atomic<int> calls{0};
    g_onUpdate = [&] {
        g_refreshTick = 0;  // every tick of this test is an adapter tick
        const int call = ++calls;
        if (call == 1) throw CreateQndException(outputstr("scripted failure"), "test", 1);
        if (call <= 3) throw std::runtime_error("out of something");  // the same failure twice
    };
    CLinkSetManager manager(CLinkSetManager::Start::WithMaintenanceThread, kHookCatalog);
    ASSERT_EQ(manager.OpenVPNDetector(1), LS_OK);
    for (DWORD waited = 0; waited < kBoundMs && calls < 5; waited += 20) Sleep(20);
    ASSERT_GE(calls, 5);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "=======EXCEPTION: QndException ==== \nReason Code: 0, Reason:scripted failure\n",
                               "<LinkSetMgr>: maintenance tick failed; the cycle goes on.\n"}));
}

// A delete stops the thread first, waiting for its tick, and only then deletes the plug-ins.
TEST_F(Cycle, DeleteDuringATickWaitsForItBeforeTheDetectorGoes) {
    OwnedManager manager = InsideATick([] { Sleep(300), g_journal += "tick ended;"; });
    manager.reset();
    EXPECT_EQ(g_journal, "built;tick ended;deleted;");
}

// StopThread's 30-second grace period, cut short.
DWORD(WINAPI* g_realWait)(HANDLE, DWORD) = nullptr;
DWORD WINAPI ShortWait(HANDLE handle, DWORD milliseconds) {
    return g_realWait(handle, milliseconds == 30000 ? 300 : milliseconds);
}

TEST_F(Cycle, ShutdownOfAThreadStuckInsideTheLocksDoesNotHang) {
    UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OwnedManager manager = InsideATick([&never] { WaitForSingleObject(never.get(), INFINITE); });
    ImportPatch shortStop(ThisExecutable(), "KERNEL32.dll", "WaitForSingleObject", &ShortWait, &g_realWait);
    TestThread deleter([&manager] { manager.reset(); });
    EXPECT_TRUE(deleter.Join(kBoundMs)) << "deleting the manager hangs";
    const std::vector<std::string> lines = log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "This thread is active! It will be terminated!\n"), lines.end());
}

// The detector takes its own configuration back as a new one: it must read it before deleting it.
TEST_F(Cycle, TheDetectorReadsItsOwnConfigurationBeforeReplacingIt) {
    struct NotedConfig final : CVPNConfig {
        ~NotedConfig() override { g_journal += "config deleted;"; }
        IVPNConfig* CreateConfig() const override { return new NotedConfig; }
    } config;
    config.EnablePlugIn(PLUGIN_CISCO3000, true);
    CVPNDetector detector(nullptr, kHookCatalog);
    detector.SetConfig(&config);
    g_journal.clear();
    EXPECT_EQ(detector.SetConfig(detector.GetConfig()), LS_OK);
    EXPECT_EQ(g_journal, "deleted;built;config deleted;");
}

}  // namespace
