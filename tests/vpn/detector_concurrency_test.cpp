#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <vector>

#include "scripted_plugins.h"
#include "vpn/vpn_detector.h"

namespace {

using namespace std::chrono_literals;

// Every wait is bounded. A deadlock ends the run with a message: the blocked threads still use
// the detector, so the test could not simply return.
constexpr auto kDeadlockTimeout = 60s;
constexpr auto kUnblockedQuery = 10s;  // a query the detector does not block answers long before
constexpr UINT kDeadlockExitCode = 3;
// Rebuilding goes on until both counts are reached, so that the threads really overlap it.
constexpr int kQueryThreads = 3;
constexpr int kRebuilds = 300;
constexpr int kQueryRounds = 300;

template <class T>
T GetOrAbort(std::future<T>& result) {
    if (result.wait_for(kDeadlockTimeout) != std::future_status::ready) {
        std::fprintf(stderr, "still blocked after %lld s: deadlock\n", static_cast<long long>(kDeadlockTimeout.count()));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), kDeadlockExitCode);
    }
    return result.get();
}

void QueryUntilStopped(IVPNDetector& detector, const std::atomic<bool>& stop, std::atomic<int>& rounds) {
    for (; !stop; ++rounds) {
        detector.Update();
        uint32_t types[8], count = 8, needed = 0, status = 0;
        detector.GetConnectedPlugIns(types, sizeof types, &count, &needed);
        detector.GetPlugInStatus(PLUGIN_RAS, &status);
        detector.GetPlugInStatus(PLUGIN_ALL, &status);
    }
}

TEST(DetectorConcurrency, UpdatesAndQueriesRunSafelyWhileTheListIsRebuilt) {
    g_script.Reset();
    g_script.connectedAtBirth = 1;  // so that the connected list is really copied
    CVPNDetector detector(nullptr, kScriptedCatalog);
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::vector<std::future<void>> threads;
    for (int i = 0; i < kQueryThreads; ++i)
        threads.push_back(std::async(std::launch::async, [&] { QueryUntilStopped(detector, stop, rounds); }));

    // Rebuilt on a thread of its own too, so that a deadlock anywhere ends in a bounded wait.
    auto rebuilding = std::async(std::launch::async, [&] {
        const std::vector<uint32_t> configurations[] = {{1, 2, 3, 4, 5, 6, 7, 8}, {5, 5, 2}, {}, {3}};
        int failures = 0;
        for (int i = 0; i < kRebuilds || rounds < kQueryRounds; ++i) {
            ScriptedConfig config(configurations[i % std::size(configurations)]);
            failures += detector.SetConfig(&config) != LS_OK;
        }
        stop = true;
        return failures;
    });
    EXPECT_EQ(GetOrAbort(rebuilding), 0);
    for (auto& thread : threads) GetOrAbort(thread);
    EXPECT_GE(rounds, kQueryRounds);
    EXPECT_EQ(g_script.violations, 0) << "a plug-in was used after deletion or by two callers at once";
}

TEST(DetectorConcurrency, AQueryWhileTheListIsRebuiltIsNotBlockedAndFindsNoPlugIns) {
    g_script.Reset();
    CVPNDetector detector(nullptr, kScriptedCatalog);
    ScriptedConfig first({PLUGIN_RAS});
    detector.SetConfig(&first);

    std::future<int32_t> answer;
    ScriptedConfig second({PLUGIN_CHECKPOINT});
    second.beforeSecondRead = [&] {
        answer = std::async(std::launch::async, [&] {
            uint32_t status = 0;
            return detector.GetPlugInStatus(PLUGIN_ALL, &status);
        });
        // Between emptying and refilling, SetConfig must not hold the detector's lock.
        EXPECT_EQ(answer.wait_for(kUnblockedQuery), std::future_status::ready);
    };
    EXPECT_EQ(detector.SetConfig(&second), LS_OK);
    EXPECT_EQ(GetOrAbort(answer), LS_ERROR_NO_PLUGIN);
}

}  // namespace
