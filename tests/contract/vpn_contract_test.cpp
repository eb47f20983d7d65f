// VPN detection through the real LinkSet.dll and its 500 ms cycle, as a GCC-built host sees it.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <atomic>
#include <string>
#include <vector>

#include "test_threads.h"
#include "../vpn/vpn_traces.h"

namespace {

// Six seconds of changes span more than ten ticks; a wait beyond many detector updates is a hang.
constexpr DWORD kFlips = 60, kFlipMs = 100, kBoundMs = 60000;

// Host threads on the VPN slots while the clients' traces change underneath; then, with three
// clients' traces holding still, every form of the two queries.
TEST(VpnContract, HostThreadsWhileTracesChangeThenEveryFormOfTheQueries) {
    RegistryScenario registry({kCiscoKey, kCheckpointKey, kAventailKey, kJuniperKey32BitView});
    ILinkSetManager* manager = LsCreateLinkSetManager();
    ASSERT_EQ(manager->OpenVPNDetector(1), LS_OK);
    std::atomic<bool> stop{false};
    std::atomic<long> wrong{0};
    const auto host = [&] {
        for (uint32_t i = 0; !stop; ++i) {
            uint32_t status = 0, types[PLUGIN_ALL], count = PLUGIN_ALL, needed = 0;
            const int32_t answer = manager->CheckVPNStatus(static_cast<EPLUGINTYPE>(i % PLUGIN_ALL + 1), &status);
            wrong += (answer != LS_OK && answer != LS_ERROR_NO_PLUGIN) || status > 1 ||
                     manager->GetVPNDetectionResult(types, sizeof types, &count, &needed) != LS_OK || count != needed;
        }
    };
    TestThread hosts[] = {TestThread(host), TestThread(host), TestThread(host)};
    for (DWORD flip = 0; flip < kFlips; ++flip, Sleep(kFlipMs)) {
        SetTunnelValues(registry, flip % 3 * 2, flip % 2, flip % 4);  // 2 and 4 besides 0 and 1
        if (flip % 2) registry.CreateKey(kJuniperKey32BitView);
        else RegDeleteTreeA(HKEY_LOCAL_MACHINE, kJuniperKey32BitView);
    }
    SetTunnelValues(registry, 1, 1, 1);
    uint32_t types[PLUGIN_ALL] = {}, count = 0, needed = 0;
    for (DWORD waited = 0; waited < kBoundMs && needed != 3; waited += kFlipMs, Sleep(kFlipMs))
        manager->GetVPNDetectionResult(nullptr, 0, &count, &needed);
    stop = true;
    for (TestThread& each : hosts) EXPECT_TRUE(each.Join(kBoundMs)) << "a host thread hangs";
    EXPECT_EQ(wrong, 0);

    std::string answers;  // a null buffer, too small a count, enough room: the count written of the count needed
    for (const auto& [offered, bytes] : {std::pair{0u, 0u}, {2u, sizeof types}, {PLUGIN_ALL, sizeof types}}) {
        count = offered;
        answers += std::to_string(manager->GetVPNDetectionResult(bytes ? types : nullptr, bytes, &count, &needed));
        answers += ": " + std::to_string(count) + " of " + std::to_string(needed) + ", ";
    }
    EXPECT_EQ(answers, "0: 0 of 3, 0: 0 of 3, 0: 3 of 3, ");
    EXPECT_EQ(std::vector<uint32_t>(types, types + 3), (std::vector<uint32_t>{PLUGIN_CISCO3000, PLUGIN_CHECKPOINT, PLUGIN_AVENTAIL}));
    std::string states;  // result and status of each kind, and of all
    for (EPLUGINTYPE kind : {PLUGIN_CISCO3000, PLUGIN_CHECKPOINT, PLUGIN_AVENTAIL, PLUGIN_ALCATEL, PLUGIN_JUNIPERSSL, PLUGIN_ALL}) {
        uint32_t status = 2;
        states += std::to_string(manager->CheckVPNStatus(kind, &status));
        states += "/" + std::to_string(status) + " ";
    }
    EXPECT_EQ(states, "0/1 0/1 0/1 0/0 0/0 0/1 ");
    LsDeleteLinkSetManager(manager);
}

}  // namespace
