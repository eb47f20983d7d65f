#include <gtest/gtest.h>

#include "vpn/vpn_plugin.h"

namespace {

// One client generation whose presence and state the test sets; counts how often it is asked.
struct Generation final : ISpecificVPNDetector {
    uint32_t Detect() override {
        ++asked;
        return present;
    }
    uint32_t IsConnected() override { return state; }
    uint32_t present = 0;
    uint32_t state = 0;
    int asked = 0;
};

TEST(VPNPlugInImpl, TheGenerationThatAnsweredIsAskedAloneUntilItStops) {
    CVPNPlugInImpl impl;
    impl.AddDetector(nullptr);
    impl.Update();
    EXPECT_EQ(impl.IsConnected(), 0u);  // no generations: never connected

    auto* first = new Generation;
    auto* second = new Generation;
    impl.AddDetector(first);
    impl.AddDetector(second);
    second->present = 1;
    second->state = 1;
    impl.Update();
    EXPECT_EQ(impl.IsConnected(), 1u);
    EXPECT_EQ(first->asked, 1);

    first->present = 1;  // the first generation answers now too, but is not asked
    second->state = 7;   // any state passes through
    impl.Update();
    EXPECT_EQ(first->asked, 1);
    EXPECT_EQ(impl.IsConnected(), 7u);

    second->present = 0;  // gone: the list is walked again from the start
    first->state = 1;
    impl.Update();
    EXPECT_EQ(second->asked, 3);
    EXPECT_EQ(first->asked, 2);
    EXPECT_EQ(impl.IsConnected(), 1u);

    first->present = 0;
    impl.Update();  // the one that just failed is asked again in the walk; nobody answers
    EXPECT_EQ(first->asked, 4);
    EXPECT_EQ(impl.IsConnected(), 0u);
    impl.Update();  // no current generation is left, so every one is asked again
    EXPECT_EQ(first->asked, 5);
    EXPECT_EQ(second->asked, 5);
}

}  // namespace
