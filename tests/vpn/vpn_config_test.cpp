#include "vpn/vpn_config.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Types = std::vector<uint32_t>;
constexpr uint32_t kUntouched = 0xEEEEEEEE;

// The enabled kinds, read the way the detector reads them: ask for the size, then fetch.
Types Enabled(const IVPNConfig& config) {
    uint32_t count = 0, needed = 0;
    EXPECT_EQ(config.GetEnabledPlugIns(nullptr, 0, &count, &needed), kConfigDone);
    Types types(needed);
    count = needed;
    EXPECT_EQ(config.GetEnabledPlugIns(types.data(), needed * 4, &count, &needed), kConfigDone);
    EXPECT_EQ(count, types.size());
    return types;
}

// What the manager hands the detector, and what the detector keeps of it: a copy made through
// the configuration's own class, each entry in its place and with its flag.
TEST(VPNConfig, EveryKindInOrderAndCopiesKeepEachEntryInItsPlace) {
    CVPNConfig config;
    EXPECT_EQ(Enabled(config), Types{});
    EXPECT_EQ(config.EnablePlugIn(PLUGIN_ALL, true), kConfigDone);
    EXPECT_EQ(Enabled(config), (Types{1, 2, 3, 4, 5, 6, 7, 8}));
    config.EnablePlugIn(PLUGIN_RAS, false);
    const std::unique_ptr<IVPNConfig> copy(config.CreateConfig());
    EXPECT_EQ(Enabled(*copy), Types{});
    copy->CopyFrom(&config);
    EXPECT_EQ(Enabled(*copy), (Types{1, 2, 3, 4, 6, 7, 8}));
    copy->EnablePlugIn(PLUGIN_RAS, true);  // the disabled entry came along, in its place
    EXPECT_EQ(Enabled(*copy), (Types{1, 2, 3, 4, 5, 6, 7, 8}));
}

// The same answer as a host's connected-plug-ins query gets, which is made the same way.
TEST(VPNConfig, ShortBuffersGetNothingButTheNumberNeeded) {
    CVPNConfig config;
    for (EPLUGINTYPE kind : {PLUGIN_CISCO3000, PLUGIN_RAS, PLUGIN_ALCATEL}) config.EnablePlugIn(kind, true);
    const std::pair<uint32_t, uint32_t> tooSmall[] = {{12, 2}, {11, 3}, {0, 3}};  // bytes, capacity
    for (const auto& [bytes, capacity] : tooSmall) {
        Types buffer(3, kUntouched);
        uint32_t count = capacity, needed = 0;
        EXPECT_EQ(config.GetEnabledPlugIns(buffer.data(), bytes, &count, &needed), kConfigDone);
        EXPECT_EQ(std::make_pair(count, needed), std::make_pair(0u, 3u));
        EXPECT_EQ(buffer, Types(3, kUntouched)) << bytes << " bytes, room for " << capacity;
    }
}

}  // namespace
