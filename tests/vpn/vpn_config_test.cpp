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

TEST(VPNConfig, EntriesKeepTheirFirstPlaceOneEntryPerKindAndSoDoTheirCopies) {
    CVPNConfig config;
    EXPECT_EQ(Enabled(config), Types{});
    EXPECT_EQ(config.EnablePlugIn(PLUGIN_ALL, true), kConfigDone);
    EXPECT_EQ(Enabled(config), (Types{1, 2, 3, 4, 5, 6, 7, 8}));
    config.EnablePlugIn(PLUGIN_RAS, false);
    EXPECT_EQ(Enabled(config), (Types{1, 2, 3, 4, 6, 7, 8}));

    const std::unique_ptr<IVPNConfig> copy(config.CreateConfig());
    EXPECT_EQ(Enabled(*copy), Types{});
    copy->CopyFrom(&config);
    EXPECT_EQ(Enabled(*copy), (Types{1, 2, 3, 4, 6, 7, 8}));
    copy->EnablePlugIn(PLUGIN_RAS, true);  // the disabled entry came along, in its place
    EXPECT_EQ(Enabled(*copy), (Types{1, 2, 3, 4, 5, 6, 7, 8}));
    copy->CopyFrom(nullptr);
    EXPECT_EQ(Enabled(*copy), Types{});

    config.EnablePlugIn(PLUGIN_RAS, true);
    config.EnablePlugIn(PLUGIN_CHECKPOINT, true);  // already there: no second entry
    config.EnablePlugIn(static_cast<EPLUGINTYPE>(12), true);
    EXPECT_EQ(Enabled(config), (Types{1, 2, 3, 4, 5, 6, 7, 8, 12}));
    config.EnablePlugIn(PLUGIN_ALL, false);  // also drops the unknown kind
    config.EnablePlugIn(PLUGIN_SAFENET, true);
    EXPECT_EQ(Enabled(config), Types{4});
}

TEST(VPNConfig, ShortBuffersGetNothingButTheNumberNeeded) {
    CVPNConfig config;
    const uint32_t kinds[] = {PLUGIN_CISCO3000, PLUGIN_RAS, PLUGIN_ALCATEL};
    config.EnablePlugIns(kinds, sizeof kinds, 3, true);
    const std::pair<uint32_t, uint32_t> tooSmall[] = {{12, 2}, {11, 3}, {0, 3}};  // bytes, capacity
    for (const auto& [bytes, capacity] : tooSmall) {
        Types buffer(3, kUntouched);
        uint32_t count = capacity, needed = 0;
        EXPECT_EQ(config.GetEnabledPlugIns(buffer.data(), bytes, &count, &needed), kConfigDone);
        EXPECT_EQ(std::make_pair(count, needed), std::make_pair(0u, 3u));
        EXPECT_EQ(buffer, Types(3, kUntouched)) << bytes << " bytes, room for " << capacity;
    }
}

TEST(VPNConfig, EnablePlugInsRefusesAWholeArrayOrAppliesAllOfIt) {
    CVPNConfig config;
    const uint32_t kinds[] = {PLUGIN_SAFENET, 12, PLUGIN_NETSCREEN};
    const uint32_t withAll[] = {PLUGIN_CISCO3000, PLUGIN_ALL, PLUGIN_RAS};
    EXPECT_EQ(config.EnablePlugIns(withAll, sizeof withAll, 3, true), kConfigRefused);
    EXPECT_EQ(config.EnablePlugIns(kinds, sizeof kinds - 1, 3, true), kConfigRefused);
    EXPECT_EQ(config.EnablePlugIns(kinds, sizeof kinds, -1, true), kConfigRefused);
    EXPECT_EQ(Enabled(config), Types{});  // not even the kind before PLUGIN_ALL
    EXPECT_EQ(config.EnablePlugIns(nullptr, 0, 0, true), kConfigDone);
    EXPECT_EQ(config.EnablePlugIns(kinds, sizeof kinds, 3, true), kConfigDone);
    EXPECT_EQ(Enabled(config), (Types{4, 12, 2}));
}

}  // namespace
