// The manager: its queries on a seeded port list, the dotted-address parser, which ticks run which
// passes, failures contained in a tick, a shutdown that waits for a running tick but does not hang
// on a stuck one, and its detector taking back its own configuration.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>

#include "boundary/exception.h"
#include "import_patch.h"
#include "manager_harness.h"
#include "recording_log.h"
#include "test_threads.h"
#include "vpn/vpn_detector.h"

namespace {

uint32_t Ip(const char* text) { return ParseDottedAddress(text); }

// Each filter counts every passing port and copies the first that fit, in list order; the address
// queries read the first 32 addressed ports and always tell the number needed. The bytes behind
// the records are checked through the DLL (reference host, bad input).
TEST(ManagerQueries, FiltersCountEveryPortAndAddressQueriesTellTheNumberNeeded) {
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    ManagerProbe probe(manager);
    probe.SetPorts({MakePort(PORT_TYPE_ETHERNET, "a", Ip("10.0.0.1"), Ip("10.0.0.254")), MakePort(PORT_TYPE_ETHERNET, "b", Ip("10.0.0.2")),
                    MakePort(PORT_TYPE_DIALUP, "c", 0), MakePort(PORT_TYPE_WIRELESS, "d", Ip("10.0.0.4"), Ip("10.0.0.254")),
                    MakePort(PORT_TYPE_ETHERNET, "e", Ip("10.0.0.5"))});
    uint32_t copied = 99, total = 99;
    EXPECT_EQ(manager.GetPorts(nullptr, 0, &copied, nullptr, 0), LS_ERROR_FAILED);
    EXPECT_EQ(manager.GetPorts(nullptr, 0, nullptr, &total, 0), LS_ERROR_FAILED);
    EXPECT_EQ(total, 99u);  // a refused call leaves the count alone
    constexpr uint32_t kRecord = sizeof(PORT_INFO);
    const std::tuple<int32_t, uint32_t, uint32_t, uint32_t, std::string> rows[] = {  // filter, bytes, copied, total, 2nd copied
        {PORT_FILTER_ALL, 0, 0, 5, ""}, {7, 2 * kRecord + 100, 2, 5, "b"},  // 7 passes everything
        {PORT_FILTER_HAS_ADDRESS, 3 * kRecord, 3, 4, "b"}, {PORT_FILTER_HAS_GATEWAY, 3 * kRecord, 2, 2, "d"}};
    for (const auto& [filter, bytes, wantCopied, wantTotal, second] : rows) {
        std::vector<PORT_INFO> buffer(3);
        EXPECT_EQ(manager.GetPorts(bytes ? buffer.data() : nullptr, bytes, &copied, &total, filter), LS_OK);
        EXPECT_EQ(std::tuple(copied, total, std::string(buffer[1].ConnectionName)), std::tuple(wantCopied, wantTotal, second)) << filter;
    }
    const auto withServers = [](PORT_INFO port, std::vector<const char*> dns, std::vector<const char*> wins) {
        for (const char* address : dns) port.DnsServers[port.DnsServerCount++].Address = Ip(address);
        for (const char* address : wins) port.WinsServers[port.WinsServerCount++].Address = Ip(address);
        return port;
    };
    probe.SetPorts({withServers(MakePort(PORT_TYPE_ETHERNET, "a", Ip("10.0.0.1"), Ip("10.0.0.254")), {"8.8.8.8", "8.8.4.4"}, {"10.0.0.9"}),
                    MakePort(PORT_TYPE_DIALUP, "entry", 0), withServers(MakePort(PORT_TYPE_ETHERNET, "b", Ip("10.0.0.2")), {"1.1.1.1"}, {})});
    const std::pair<decltype(&ILinkSetManager::GetGateways), std::vector<uint32_t>> queries[] = {
        {&ILinkSetManager::GetGateways, {Ip("10.0.0.254"), 0}},  // addressed ports only; a missing gateway is a 0
        {&ILinkSetManager::GetDnsServers, {Ip("8.8.8.8"), Ip("8.8.4.4"), Ip("1.1.1.1")}},
        {&ILinkSetManager::GetWinsServers, {Ip("10.0.0.9")}}};
    uint32_t count = 99;
    for (const auto& [query, want] : queries) {
        std::vector<uint32_t> got(want.size());
        EXPECT_EQ((manager.*query)(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
        EXPECT_EQ(count, want.size());
        EXPECT_EQ((manager.*query)(got.data(), count * 4 - 1, &count), LS_ERROR_BUFFER_TOO_SMALL);
        EXPECT_EQ((manager.*query)(got.data(), count * 4, &count), LS_OK);
        EXPECT_EQ(got, want);
    }
    probe.SetPorts(std::vector<PORT_INFO>(40, MakePort(PORT_TYPE_ETHERNET, "p", 1, 0x01010101)));
    EXPECT_EQ(manager.GetGateways(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 32u);
    uint32_t none[1] = {};  // no servers: a real array succeeds with none, a null one is still too small
    EXPECT_EQ(manager.GetWinsServers(none, sizeof none, &count), LS_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(manager.GetWinsServers(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
}

// Plain text is read without scanf, yet every text must read as scanf's "%ld.%ld.%ld.%ld" does:
// each part modulo 256 in network order, and 0 for a part of 65535 or a missing one.
TEST(ParseDottedAddress, ReadsEveryTextAsScanfDoes) {
    const auto byScanf = [](const char* text) {
        long p[4] = {65535, 65535, 65535, 65535};
        std::sscanf(text, "%ld.%ld.%ld.%ld", &p[0], &p[1], &p[2], &p[3]);
        if (std::count(p, p + 4, 65535L) != 0) return 0u;
        uint32_t address = 0;
        for (int i = 3; i >= 0; --i) address = (address << 8) | (static_cast<uint32_t>(p[i]) & 0xFF);
        return address;
    };
    EXPECT_EQ(ParseDottedAddress(nullptr), 0u);
    std::vector<std::string> texts = {"192.168.1.20", "001.255.0.10", "999.1.1.1", "1.2.3.4.", "1.2.3.4 ", "1.2.3.1234", " 1.2.3.4",
                                      "-1.2.3.4",     "1.2..4",       "1.2.3",     "1.2.3.65535", ""};
    const char alphabet[] = "0123456789....  +-x";
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        std::string& text = texts.emplace_back(random() % 18, ' ');
        for (char& c : text) c = alphabet[random() % (sizeof alphabet - 1)];
    }
    for (const std::string& text : texts) ASSERT_EQ(ParseDottedAddress(text.c_str()), byScanf(text.c_str())) << '"' << text << '"';
}

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

struct Cycle : ::testing::Test {
    void SetUp() override { g_updates = 0, g_onUpdate = nullptr, g_journal.clear(), g_refreshTick = 0; }
    void TearDown() override { g_onUpdate = nullptr; }

    // Deleted as the library's delete function does, through slot 0.
    using OwnedManager = std::unique_ptr<CLinkSetManager, void (*)(CLinkSetManager*)>;
    // A manager whose maintenance thread is inside its first tick, in the plug-in's Update, doing `rest`.
    OwnedManager InsideATick(std::function<void()> rest) {
        g_onUpdate = [this, rest] { SetEvent(entered.get()); rest(); };
        OwnedManager manager(new CLinkSetManager(CLinkSetManager::Start::WithMaintenanceThread, kHookCatalog),
                             [](CLinkSetManager* m) { m->DeletingDestructor(LINKSET_DELETE_MEMORY); });
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
    machine.ipHelper.adapters = {MakeAdapter("{A}", MIB_IF_TYPE_ETHERNET, 1, "10.7.0.1")}, machine.ras = FakeRas{};
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
        EXPECT_EQ(std::tuple(adapterListCalls() != calls, phoneBookListings() != listings, g_updates - updates),
                  std::tuple(row.adapterPass, row.phoneBookPass, row.adapterPass ? 1 : 0)) << "adapter pass, phone-book pass, updates";
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

// A delete stops the thread first: it waits for a running tick before the plug-ins go, but gives
// one stuck inside the locks only StopThread's grace period (30 seconds, cut short here).
DWORD(WINAPI* g_realWait)(HANDLE, DWORD) = nullptr;
DWORD WINAPI ShortWait(HANDLE handle, DWORD milliseconds) { return g_realWait(handle, milliseconds == 30000 ? 300 : milliseconds); }

TEST_F(Cycle, DeleteWaitsForARunningTickButDoesNotHangOnAStuckOne) {
    InsideATick([] { Sleep(300), g_journal += "tick ended;"; }).reset();
    EXPECT_EQ(g_journal, "built;tick ended;deleted;");
    ResetEvent(entered.get());
    UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OwnedManager manager = InsideATick([&never] { WaitForSingleObject(never.get(), INFINITE); });
    ImportPatch shortStop(ThisExecutable(), "KERNEL32.dll", "WaitForSingleObject", &ShortWait, &g_realWait);
    TestThread deleter([&manager] { manager.reset(); });
    EXPECT_TRUE(deleter.Join(kBoundMs)) << "deleting a manager stuck in its tick hangs";
    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "This thread is active! It will be terminated!\n"), 1);
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
