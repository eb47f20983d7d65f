#include "vpn/vpn_detector.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vpn/type_list.h"
#include "vpn/vpn_plugin.h"

namespace {

using Types = std::vector<uint32_t>;
using Answer = std::pair<int32_t, uint32_t>;  // result, status

// What the scripted plug-ins did: "+3" built, "-3" deleted, "u3" updated.
class ScriptedPlugIn;
std::string g_journal;
std::vector<ScriptedPlugIn*> g_live;  // in creation order
ILinkSetManager* g_managerGiven;

class ScriptedPlugIn final : public IVPNPlugIn {
public:
    explicit ScriptedPlugIn(uint32_t type) : m_type(type) { Note('+'), g_live.push_back(this); }
    ~ScriptedPlugIn() override { Note('-'), std::erase(g_live, this); }
    int32_t GetName(outputstr*) override { return kPlugInNoText; }
    int32_t GetDescription(outputstr*) override { return kPlugInNoText; }
    uint32_t GetType() override { return m_type; }
    void Update() override { Note('u'); }
    uint32_t IsConnected() override { return connected; }
    uint32_t connected = 0;

private:
    void Note(char what) { g_journal += what + std::to_string(m_type); }
    const uint32_t m_type;
};

// The catalog's factories are handed the manager; the classes that read the port list keep it.
template <uint32_t Type>
std::unique_ptr<IVPNPlugIn> Make(ILinkSetManager* manager) {
    g_managerGiven = manager;
    return std::make_unique<ScriptedPlugIn>(Type);
}
constexpr PlugInClass kScriptedCatalog[] = {{1, &Make<1>}, {2, &Make<2>}, {3, &Make<3>}, {4, &Make<4>},
                                            {5, &Make<5>}, {6, &Make<6>}, {7, &Make<7>}, {8, &Make<8>}};

// Lists fixed kinds, repeats allowed, and so do its copies; notes "~" in the journal when deleted.
class ScriptedConfig final : public CVPNConfig {
public:
    explicit ScriptedConfig(Types kinds) : m_listed(std::move(kinds)) {}
    ~ScriptedConfig() override { g_journal += '~'; }
    IVPNConfig* CreateConfig() const override { return new ScriptedConfig(m_listed); }
    int32_t GetEnabledPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count, uint32_t* needed) const override {
        AnswerTypeList(m_listed, types, bufferBytes, count, needed);
        return kConfigDone;
    }

private:
    const Types m_listed;
};

// Stands for the manager; the scripted plug-ins only pass it on.
char g_managerStandIn;
ILinkSetManager* const kManager = reinterpret_cast<ILinkSetManager*>(&g_managerStandIn);

class Detector : public ::testing::Test {
protected:
    Detector() { g_journal.clear(); }
    // The state starts as garbage so that "set to 0" is seen.
    Answer Status(uint32_t type) {
        uint32_t status = 0xEEEE;
        return {detector.GetPlugInStatus(static_cast<EPLUGINTYPE>(type), &status), status};
    }

    CVPNDetector detector{kManager, kScriptedCatalog};
};

// Each configuration replaces the plug-ins; an update shows which there are, in list order.
TEST_F(Detector, BuildsOnePlugInPerListedKindInListOrderAfterDeletingTheOldOnes) {
    CVPNConfig everyKind;  // as the manager configures it
    everyKind.EnablePlugIn(PLUGIN_ALL, true);
    ScriptedConfig some({3, 12, 2, 3, 0}), none({});
    const std::pair<IVPNConfig*, std::string> steps[] = {
        {&everyKind, "+1+2+3+4+5+6+7+8u1u2u3u4u5u6u7u8"},
        {&some, "-1-2-3-4-5-6-7-8+3+2+3u3u2u3"},  // unknown kinds skipped, repeats built again
        {&none, "-3-2-3~"},  // the copy of the previous configuration goes last
    };
    for (const auto& [config, journal] : steps) {
        g_journal.clear();
        EXPECT_EQ(detector.SetConfig(config), LS_OK);
        detector.Update();
        EXPECT_EQ(g_journal, journal);
    }
    EXPECT_EQ(g_managerGiven, kManager);
    EXPECT_EQ(Status(PLUGIN_ALL), (Answer{LS_ERROR_NO_PLUGIN, 0}));

    // The detector keeps a copy of its own, and takes it back as a new configuration, which it
    // must not delete before it has read it.
    ScriptedConfig safeNet({PLUGIN_SAFENET});
    detector.SetConfig(&safeNet);
    g_journal.clear();
    EXPECT_EQ(detector.SetConfig(detector.GetConfig()), LS_OK);
    EXPECT_EQ(g_journal, "-4+4~");
}

// Plug-ins of the kinds 1, 3, 3 and 5 in that order, in the states of each row.
TEST_F(Detector, OneKindAnswersWithItsFirstPlugInAndAllKindsWithAnyTunnelUp) {
    ScriptedConfig config({PLUGIN_CISCO3000, PLUGIN_CHECKPOINT, PLUGIN_CHECKPOINT, PLUGIN_RAS});
    detector.SetConfig(&config);
    ASSERT_EQ(g_live.size(), 4u);
    const struct { uint32_t states[4]; Answer checkPoint, all; Types connected; } rows[] = {
        {{0, 0, 0, 7}, {LS_OK, 0}, {LS_OK, 0}, {}},
        {{0, 7, 1, 0}, {LS_OK, 7}, {LS_OK, 1}, {3}},  // 7 is no tunnel, but the kind's state
        {{1, 0, 7, 1}, {LS_OK, 0}, {LS_OK, 1}, {1, 5}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.states));
        for (size_t i = 0; i < g_live.size(); ++i) g_live[i]->connected = row.states[i];
        EXPECT_EQ(Status(PLUGIN_CHECKPOINT), row.checkPoint);
        EXPECT_EQ(Status(PLUGIN_ALL), row.all);
        EXPECT_EQ(Status(PLUGIN_SAFENET), (Answer{LS_ERROR_NO_PLUGIN, 0}));
        uint32_t count = 5, needed = 0;
        EXPECT_EQ(detector.GetConnectedPlugIns(nullptr, 0, &count, &needed), LS_OK);
        EXPECT_EQ(count, 0u);
        Types types(needed);
        count = needed;
        EXPECT_EQ(detector.GetConnectedPlugIns(types.data(), needed * 4, &count, &needed), LS_OK);
        EXPECT_EQ(types, row.connected);
    }
}

// The plug-ins' install hooks do nothing: what a host sees is each kind built and deleted in turn.
TEST_F(Detector, InstallExportsBuildAndDeleteEachKindUpToAlcatelInTurn) {
    InstallPlugIns(kScriptedCatalog, PLUGIN_ALL, true);
    EXPECT_EQ(g_journal, "+1-1+2-2+3-3+4-4+5-5+6-6+7-7");
    EXPECT_EQ(g_managerGiven, nullptr);
    g_journal.clear();
    for (uint32_t type : {0u, 8u, 10u, 4u}) InstallPlugIns(kScriptedCatalog, static_cast<EPLUGINTYPE>(type), false);
    EXPECT_EQ(g_journal, "+4-4");
}

// One client generation whose presence and state the test sets; counts how often it is asked.
struct Generation final : ISpecificVPNDetector {
    uint32_t Detect() override { return ++asked, present; }
    uint32_t IsConnected() override { return state; }
    uint32_t present = 0, state = 0;
    int asked = 0;
};

TEST(VPNPlugInImpl, TheGenerationThatAnsweredIsAskedAloneUntilItStops) {
    CVPNPlugInImpl impl;
    impl.AddDetector(nullptr);  // a generation that could not be made is left out
    impl.Update();
    EXPECT_EQ(impl.IsConnected(), 0u);

    Generation* generations[] = {new Generation, new Generation};
    for (Generation* generation : generations) impl.AddDetector(generation);
    // Each step sets both generations, updates, and reads the state and the questions asked so far.
    const struct { uint32_t present[2], state[2], connected; int asked[2]; } steps[] = {
        {{0, 1}, {0, 1}, 1, {1, 1}},
        {{1, 1}, {0, 7}, 7, {1, 2}},  // the first answers now too, but is not asked; any state passes
        {{1, 0}, {1, 7}, 1, {2, 3}},  // the current one has gone: the walk starts again from the top
        {{0, 0}, {1, 7}, 0, {4, 4}},  // the one that just failed is asked again in the walk
        {{0, 0}, {1, 7}, 0, {5, 5}},  // with no current one left, every one is asked each time
    };
    for (const auto& s : steps) {
        for (int g = 0; g < 2; ++g) generations[g]->present = s.present[g], generations[g]->state = s.state[g];
        impl.Update();
        EXPECT_EQ(impl.IsConnected(), s.connected);
        for (int g = 0; g < 2; ++g) EXPECT_EQ(generations[g]->asked, s.asked[g]) << "generation " << g;
    }
}

}  // namespace
