#include <gtest/gtest.h>

#include "vpn/vpn_plugin.h"

namespace {

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
    const struct {
        uint32_t present[2], state[2], connected;
        int asked[2];
    } steps[] = {
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
        EXPECT_EQ(generations[0]->asked, s.asked[0]);
        EXPECT_EQ(generations[1]->asked, s.asked[1]);
    }
}

}  // namespace
