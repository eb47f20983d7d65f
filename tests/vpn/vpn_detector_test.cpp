#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <string>
#include <vector>

#include "recording_log.h"
#include "scripted_plugins.h"
#include "vpn/vpn_detector.h"

namespace {

using Journal = std::vector<std::string>;
using Types = std::vector<uint32_t>;
using Answer = std::pair<int32_t, uint32_t>;  // result, status

// Stands for the manager; the scripted plug-ins only pass it on.
char g_managerStandIn;
ILinkSetManager* const kManager = reinterpret_cast<ILinkSetManager*>(&g_managerStandIn);

class Detector : public ::testing::Test {
protected:
    void SetUp() override { g_script.Reset(); }
    void TearDown() override { EXPECT_EQ(g_script.violations, 0); }

    int32_t Configure(Types kinds) {
        ScriptedConfig config(std::move(kinds));
        return detector.SetConfig(&config);
    }
    // The answer and the state; the state starts as garbage so that "set to 0" is seen.
    Answer Status(uint32_t type) {
        uint32_t status = 0xEEEE;
        const int32_t answer = detector.GetPlugInStatus(static_cast<EPLUGINTYPE>(type), &status);
        return {answer, status};
    }

    CVPNDetector detector{kManager, kScriptedCatalog};
};

TEST_F(Detector, BuildsOnePlugInPerListedKindInListOrderAfterDeletingTheOldOnes) {
    CVPNConfig every;
    every.EnablePlugIn(PLUGIN_ALL, true);
    EXPECT_EQ(detector.SetConfig(&every), LS_OK);
    EXPECT_EQ(g_script.journal, (Journal{"+1", "+2", "+3", "+4", "+5", "+6", "+7", "+8"}));
    EXPECT_EQ(g_script.managerGiven, kManager);
    ASSERT_NE(detector.GetConfig(), &every);  // a copy, kept by the detector
    uint32_t count = 0, needed = 0;
    detector.GetConfig()->GetEnabledPlugIns(nullptr, 0, &count, &needed);
    EXPECT_EQ(needed, 8u);

    g_script.journal.clear();
    EXPECT_EQ(Configure({PLUGIN_CHECKPOINT, 12, PLUGIN_NETSCREEN, PLUGIN_CHECKPOINT, 0}), LS_OK);
    EXPECT_EQ(g_script.journal, (Journal{"-1", "-2", "-3", "-4", "-5", "-6", "-7", "-8", "+3", "+2", "+3"}));

    g_script.journal.clear();
    EXPECT_EQ(Configure({}), LS_OK);
    EXPECT_EQ(g_script.journal, (Journal{"-3", "-2", "-3"}));
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_ERROR_NO_PLUGIN, 0}));
}

TEST_F(Detector, AFailedFirstReadOrNullKeepsThePlugInsAFailedSecondReadEmptiesThem) {
    Configure({PLUGIN_RAS});
    RecordingDebugLog log;
    {
        ScopedDebugLog installed(log, &LsSetDebugOutput);
        EXPECT_EQ(detector.SetConfig(nullptr), LS_ERROR_FAILED);
    }
    EXPECT_TRUE(log.WroteOnly("<VPNdetector>: wrong parameter."));

    ScriptedConfig refusesFirst({PLUGIN_ALCATEL});
    refusesFirst.firstAnswer = kConfigRefused;
    EXPECT_EQ(detector.SetConfig(&refusesFirst), LS_ERROR_FAILED);
    EXPECT_EQ(Status(PLUGIN_RAS).first, LS_OK);

    ScriptedConfig refusesSecond({PLUGIN_ALCATEL});
    refusesSecond.secondAnswer = kConfigRefused;
    EXPECT_EQ(detector.SetConfig(&refusesSecond), LS_ERROR_FAILED);
    EXPECT_EQ(Status(PLUGIN_ALL).first, LS_ERROR_NO_PLUGIN);
    EXPECT_EQ(g_script.journal, (Journal{"+5", "-5"}));
}

TEST_F(Detector, OneKindAnswersWithItsFirstPlugInAndAllKindsWithAnyTunnelUp) {
    Configure({PLUGIN_CISCO3000, PLUGIN_CHECKPOINT, PLUGIN_CHECKPOINT, PLUGIN_RAS});
    const std::vector<ScriptedPlugIn*> plugIns = g_script.live;
    ASSERT_EQ(plugIns.size(), 4u);
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_OK, 0}));

    plugIns[1]->connected = 7;  // not a tunnel, but passed on as the kind's state
    plugIns[2]->connected = 1;
    EXPECT_EQ(Status(PLUGIN_CHECKPOINT), (Answer{LS_OK, 7}));
    EXPECT_EQ(Status(PLUGIN_SAFENET), (Answer{LS_ERROR_NO_PLUGIN, 0}));
    const int lastAsked = plugIns[3]->connectedCalls;
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_OK, 1}));
    EXPECT_EQ(plugIns[3]->connectedCalls, lastAsked);  // the walk stopped at the tunnel
    plugIns[2]->connected = 0;
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_OK, 0}));

    plugIns[0]->connected = 1;
    plugIns[2]->connected = 1;
    Types types(2);
    uint32_t count = 5, needed = 0;
    EXPECT_EQ(detector.GetConnectedPlugIns(nullptr, 0, &count, &needed), LS_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(needed, 2u);
    count = 2;
    EXPECT_EQ(detector.GetConnectedPlugIns(types.data(), 8, &count, &needed), LS_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(types, (Types{1, 3}));
}

TEST(InstallPlugIns, EachKindUpToAlcatelIsBuiltHookedAndDeletedInTurn) {
    g_script.Reset();
    InstallPlugIns(kScriptedCatalog, PLUGIN_ALL, true);
    Journal expected;
    for (int type = PLUGIN_CISCO3000; type <= PLUGIN_ALCATEL; ++type)
        for (char step : {'+', 'I', '-'}) expected.push_back(step + std::to_string(type));
    EXPECT_EQ(g_script.journal, expected);
    EXPECT_EQ(g_script.managerGiven, nullptr);

    g_script.Reset();
    for (uint32_t type : {0u, 8u, 10u}) InstallPlugIns(kScriptedCatalog, static_cast<EPLUGINTYPE>(type), false);
    InstallPlugIns(kScriptedCatalog, PLUGIN_SAFENET, false);
    EXPECT_EQ(g_script.journal, (Journal{"+4", "U4", "-4"}));
}

}  // namespace
