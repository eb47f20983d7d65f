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

    auto* first = new Generation;
    auto* second = new Generation;
    impl.AddDetector(first);
    impl.AddDetector(second);
    // Each step sets both generations, updates, and reads the state and the questions asked so far.
    const struct {
        uint32_t firstPresent, firstState, secondPresent, secondState, state;
        int firstAsked, secondAsked;
    } steps[] = {
        {0, 0, 1, 1, 1, 1, 1},
        {1, 0, 1, 7, 7, 1, 2},  // the first answers now too, but is not asked; any state passes
        {1, 1, 0, 7, 1, 2, 3},  // the current one has gone: the walk starts again from the top
        {0, 1, 0, 7, 0, 4, 4},  // the one that just failed is asked again in the walk
        {0, 1, 0, 7, 0, 5, 5},  // with no current one left, every one is asked each time
    };
    for (const auto& s : steps) {
        first->present = s.firstPresent;
        first->state = s.firstState;
        second->present = s.secondPresent;
        second->state = s.secondState;
        impl.Update();
        EXPECT_EQ(impl.IsConnected(), s.state);
        EXPECT_EQ(first->asked, s.firstAsked);
        EXPECT_EQ(second->asked, s.secondAsked);
    }
}

}  // namespace
