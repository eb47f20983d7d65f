#include "vpn/vpn_detector.h"

#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "recording_log.h"
#include "test_threads.h"
#include "vpn/type_list.h"

namespace {

using Types = std::vector<uint32_t>;
using Answer = std::pair<int32_t, uint32_t>;  // result, status

// What the scripted plug-ins did; they are built and deleted only on the configuring thread.
class ScriptedPlugIn;
std::string g_journal;                // "+3" built, "-3" deleted, "I3" / "U3" hook run
std::vector<ScriptedPlugIn*> g_live;  // in creation order
ILinkSetManager* g_managerGiven;
uint32_t g_connectedAtBirth;
std::atomic<int> g_violations;  // calls into a deleted plug-in, or two callers inside one at once

// A plug-in whose state the test sets, registered through a catalog as the library's own are.
class ScriptedPlugIn : public IVPNPlugIn {
public:
    explicit ScriptedPlugIn(uint32_t type) : m_type(type) {
        Note('+');
        g_live.push_back(this);
    }
    ~ScriptedPlugIn() override {
        Visit visit(*this);
        Note('-');
        std::erase(g_live, this);
        m_canary = kDeleted;
    }
    // A deleted plug-in keeps its memory, poisoned, so a late call is seen rather than undefined.
    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void operator delete(void*) {}

    int32_t GetName(outputstr*) override { return kPlugInNoText; }
    int32_t GetDescription(outputstr*) override { return kPlugInNoText; }
    uint32_t GetType() override { return Visit(*this), m_type; }
    void Update() override {
        Visit visit(*this);
        SwitchToThread();  // widens the window in which a second caller could come in
    }
    uint32_t IsConnected() override { return Visit(*this), connected.load(); }
    int32_t Install() override { return Note('I'); }
    int32_t Uninstall() override { return Note('U'); }

    std::atomic<uint32_t> connected{g_connectedAtBirth};

private:
    static constexpr uint32_t kAlive = 0xA11FE, kDeleted = 0xDEAD;
    struct Visit {
        explicit Visit(ScriptedPlugIn& plugIn) : visited(plugIn) {
            if (plugIn.m_canary != kAlive || plugIn.m_inside++ != 0) ++g_violations;
        }
        ~Visit() { --visited.m_inside; }
        ScriptedPlugIn& visited;
    };
    int32_t Note(char what) {
        g_journal += what + std::to_string(m_type);
        return 0;
    }

    const uint32_t m_type;
    std::atomic<uint32_t> m_canary{kAlive};
    std::atomic<int> m_inside{0};
};

// One class per kind; like the kinds that read the port list, RAS and Juniper SSL take the manager.
template <uint32_t Type>
struct Scripted final : ScriptedPlugIn {
    Scripted() : ScriptedPlugIn(Type) {}
    explicit Scripted(ILinkSetManager* manager) requires(Type == PLUGIN_RAS || Type == PLUGIN_JUNIPERSSL)
        : ScriptedPlugIn(Type) { g_managerGiven = manager; }
};
constexpr PlugInClass kScriptedCatalog[] = {
    {1, &MakePlugIn<Scripted<1>>}, {2, &MakePlugIn<Scripted<2>>}, {3, &MakePlugIn<Scripted<3>>},
    {4, &MakePlugIn<Scripted<4>>}, {5, &MakePlugIn<Scripted<5>>}, {6, &MakePlugIn<Scripted<6>>},
    {7, &MakePlugIn<Scripted<7>>}, {8, &MakePlugIn<Scripted<8>>},
};

// Lists fixed kinds, duplicates allowed; can refuse one of the detector's two reads, or run
// something just before the second.
class ScriptedConfig final : public CVPNConfig {
public:
    explicit ScriptedConfig(Types kinds, int refusedRead = 0) : listed(std::move(kinds)), refused(refusedRead) {}
    int32_t GetEnabledPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                              uint32_t* needed) const override {
        if (++reads == 2 && beforeSecondRead) beforeSecondRead();
        AnswerTypeList(listed, types, bufferBytes, count, needed);
        return reads == refused ? kConfigRefused : kConfigDone;
    }
    const Types listed;
    const int refused;
    std::function<void()> beforeSecondRead;
    mutable int reads = 0;
};

// Stands for the manager; the scripted plug-ins only pass it on.
char g_managerStandIn;
ILinkSetManager* const kManager = reinterpret_cast<ILinkSetManager*>(&g_managerStandIn);

class Detector : public ::testing::Test {
protected:
    void SetUp() override {
        g_journal.clear();
        g_managerGiven = nullptr;
        g_connectedAtBirth = 0;
        g_violations = 0;
    }
    void TearDown() override { EXPECT_EQ(g_violations, 0); }

    int32_t Configure(Types kinds, int refusedRead = 0) {
        ScriptedConfig config(std::move(kinds), refusedRead);
        return detector.SetConfig(&config);
    }
    // The state starts as garbage so that "set to 0" is seen.
    Answer Status(uint32_t type) {
        uint32_t status = 0xEEEE;
        const int32_t answer = detector.GetPlugInStatus(static_cast<EPLUGINTYPE>(type), &status);
        return {answer, status};
    }

    CVPNDetector detector{kManager, kScriptedCatalog};
};

TEST_F(Detector, BuildsOnePlugInPerListedKindInListOrderAfterDeletingTheOldOnes) {
    const std::pair<Types, std::string> steps[] = {
        {{1, 2, 3, 4, 5, 6, 7, 8}, "+1+2+3+4+5+6+7+8"},
        {{PLUGIN_CHECKPOINT, 12, PLUGIN_NETSCREEN, PLUGIN_CHECKPOINT, 0}, "-1-2-3-4-5-6-7-8+3+2+3"},
        {{}, "-3-2-3"},
    };
    for (const auto& [kinds, journal] : steps) {
        g_journal.clear();
        EXPECT_EQ(Configure(kinds), LS_OK);
        EXPECT_EQ(g_journal, journal);
    }
    EXPECT_EQ(g_managerGiven, kManager);
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_ERROR_NO_PLUGIN, 0}));

    CVPNConfig config;
    config.EnablePlugIn(PLUGIN_SAFENET, true);
    EXPECT_EQ(detector.SetConfig(&config), LS_OK);
    config.EnablePlugIn(PLUGIN_SAFENET, false);  // the detector keeps a copy of its own
    uint32_t count = 0, needed = 0;
    detector.GetConfig()->GetEnabledPlugIns(nullptr, 0, &count, &needed);
    EXPECT_EQ(needed, 1u);
}

TEST_F(Detector, AFailedFirstReadOrNullKeepsThePlugInsAFailedSecondReadEmptiesThem) {
    Configure({PLUGIN_RAS});
    RecordingDebugLog log;
    {
        ScopedDebugLog installed(log, &LsSetDebugOutput);
        EXPECT_EQ(detector.SetConfig(nullptr), LS_ERROR_FAILED);
    }
    EXPECT_TRUE(log.WroteOnly("<VPNdetector>: wrong parameter."));
    EXPECT_EQ(Configure({PLUGIN_ALCATEL}, 1), LS_ERROR_FAILED);
    EXPECT_EQ(Status(PLUGIN_RAS).first, LS_OK);
    EXPECT_EQ(Configure({PLUGIN_ALCATEL}, 2), LS_ERROR_FAILED);
    EXPECT_EQ(Status(PLUGIN_ALL).first, LS_ERROR_NO_PLUGIN);
    EXPECT_EQ(g_journal, "+5-5");
}

TEST_F(Detector, OneKindAnswersWithItsFirstPlugInAndAllKindsWithAnyTunnelUp) {
    Configure({PLUGIN_CISCO3000, PLUGIN_CHECKPOINT, PLUGIN_CHECKPOINT, PLUGIN_RAS});
    const std::vector<ScriptedPlugIn*> plugIns = g_live;
    ASSERT_EQ(plugIns.size(), 4u);
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_OK, 0}));
    plugIns[1]->connected = 7;  // not a tunnel, but passed on as the kind's state
    plugIns[2]->connected = 1;
    EXPECT_EQ(Status(PLUGIN_CHECKPOINT), (Answer{LS_OK, 7}));
    EXPECT_EQ(Status(PLUGIN_SAFENET), (Answer{LS_ERROR_NO_PLUGIN, 0}));
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_OK, 1}));
    plugIns[2]->connected = 0;
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_OK, 0}));

    plugIns[0]->connected = 1;
    plugIns[2]->connected = 1;
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_OK, 1}));
    Types types(2);
    uint32_t count = 5, needed = 0;
    EXPECT_EQ(detector.GetConnectedPlugIns(nullptr, 0, &count, &needed), LS_OK);
    EXPECT_EQ(std::make_pair(count, needed), std::make_pair(0u, 2u));
    count = 2;
    EXPECT_EQ(detector.GetConnectedPlugIns(types.data(), 8, &count, &needed), LS_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(types, (Types{1, 3}));
}

TEST_F(Detector, InstallExportsBuildHookAndDeleteEachKindUpToAlcatelInTurn) {
    InstallPlugIns(kScriptedCatalog, PLUGIN_ALL, true);
    EXPECT_EQ(g_journal, "+1I1-1+2I2-2+3I3-3+4I4-4+5I5-5+6I6-6+7I7-7");
    EXPECT_EQ(g_managerGiven, nullptr);

    g_journal.clear();
    for (uint32_t type : {0u, 8u, 10u}) InstallPlugIns(kScriptedCatalog, static_cast<EPLUGINTYPE>(type), false);
    InstallPlugIns(kScriptedCatalog, PLUGIN_SAFENET, false);
    EXPECT_EQ(g_journal, "+4U4-4");
}

// Every wait is bounded. A deadlock ends the run with a message: the blocked threads still use
// the detector, so the test could not simply return.
constexpr DWORD kDeadlockTimeoutMs = 60000;
constexpr UINT kDeadlockExitCode = 3;
void JoinOrAbort(TestThread& thread) {
    if (thread.Join(kDeadlockTimeoutMs)) return;
    std::fputs("deadlock: still blocked after the longest wait\n", stderr);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kDeadlockExitCode);
}

TEST_F(Detector, UpdatesAndQueriesFromSeveralThreadsRunSafelyWhileTheListIsRebuilt) {
    // Rebuilding goes on until both counts are reached, so that the threads really overlap it.
    constexpr int kQueryThreads = 3, kRebuilds = 100, kQueryRounds = 300;
    g_connectedAtBirth = 1;  // so that the connected list is really copied
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0}, failures{0};
    std::vector<TestThread> threads;
    for (int i = 0; i < kQueryThreads; ++i)
        threads.emplace_back([&] {
            for (; !stop; ++rounds) {
                detector.Update();
                uint32_t types[8], count = 8, needed = 0, status = 0;
                detector.GetConnectedPlugIns(types, sizeof types, &count, &needed);
                detector.GetPlugInStatus(PLUGIN_RAS, &status);
                detector.GetPlugInStatus(PLUGIN_ALL, &status);
            }
        });
    // Rebuilt on a thread of its own too, so that a deadlock anywhere ends in a bounded wait.
    TestThread rebuilding([&] {
        const Types configurations[] = {{1, 2, 3, 4, 5, 6, 7, 8}, {5, 5, 2}, {}, {3}};
        for (int i = 0; i < kRebuilds || rounds < kQueryRounds; ++i) {
            failures += Configure(configurations[i % std::size(configurations)]) != LS_OK;
            Sleep(0);  // gives the query threads their turn at a full list too
        }
        stop = true;
    });
    JoinOrAbort(rebuilding);
    for (TestThread& thread : threads) JoinOrAbort(thread);
    EXPECT_EQ(failures, 0);
    EXPECT_GE(rounds, kQueryRounds);
}

// Between emptying the list and refilling it, SetConfig must not hold the detector's lock.
TEST_F(Detector, AQueryWhileTheListIsRebuiltIsNotBlockedAndFindsNoPlugIns) {
    Configure({PLUGIN_RAS});
    constexpr DWORD kUnblockedQueryMs = 10000;  // far longer than a query that is not blocked takes
    std::atomic<int32_t> answer{LS_OK};
    std::unique_ptr<TestThread> query;
    ScriptedConfig config({PLUGIN_CHECKPOINT});
    config.beforeSecondRead = [&] {
        query = std::make_unique<TestThread>([&] { answer = Status(PLUGIN_ALL).first; });
        EXPECT_TRUE(query->Join(kUnblockedQueryMs));
    };
    EXPECT_EQ(detector.SetConfig(&config), LS_OK);
    JoinOrAbort(*query);
    EXPECT_EQ(answer, LS_ERROR_NO_PLUGIN);
}

}  // namespace
