// The real DLL under load: eight host threads on every slot while detection opens and closes, a second manager comes
// and goes and the made-up machine changes. LINKSET_SOAK_SECONDS: the length (20 by default, longer in the bench).
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <atomic>
#include <iostream>

#include "child_process.h"
#include "machine.h"
#include "resource_counts.h"
#include "test_threads.h"
#include "../vpn/vpn_traces.h"

namespace {

constexpr long kStallMs = 20000;  // no call finished for this long: a deadlock

// The watchdog: a stall ends the run at once instead of hanging it; endl flushes the message first.
void Deadlock() {
    std::cerr << "deadlock: no call finished for " << kStallMs << " ms" << std::endl;
    TerminateProcess(GetCurrentProcess(), 3);
}

Machine SoakMachine(int round) {
    Machine machine;
    machine.ipHelper.adapters = {
        MakeAdapter("{50AC0001-0000-4000-8000-000000000001}", MIB_IF_TYPE_ETHERNET, 1, "10.9.0." + std::to_string(round % 200 + 1)),
        MakeAdapter("{50AC0002-0000-4000-8000-000000000002}", MIB_IF_TYPE_PPP, 2, "10.8.0.5")};
    FakeRas& ras = machine.ras.emplace();
    for (int i = 0; i <= round % 12; ++i) ras.phoneBook.push_back({"Entry " + std::to_string(i), i % 2 ? "vpn" : "modem"});
    ras.connections = {{"Office VPN", "vpn", "10.8.0.5"}};
    return machine;
}

TEST(Soak, EverySlotFromEightThreadsWhileTheMachineChanges) {
    const char* setting = std::getenv("LINKSET_SOAK_SECONDS");
    const int seconds = std::max(4, setting ? std::atoi(setting) : 20);
    MachineScope scope(SoakMachine(0));
    RegistryScenario traces({kCiscoKey, kCheckpointKey});
    const UniqueModule dll(LoadLibraryA(WinePath(LINKSET_DLL).c_str()));
    ASSERT_TRUE(dll);
    const auto create = ResolveEntryPoint<ILinkSetManager* (*)()>(dll.get(), "?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ");
    const auto destroy = ResolveEntryPoint<void (*)(ILinkSetManager*)>(dll.get(), "?LsDeleteLinkSetManager@@YAXPEAVILinkSetManager@@@Z");
    using Manager = std::unique_ptr<ILinkSetManager, decltype(destroy)>;
    const Manager manager(create(), destroy);
    ASSERT_TRUE(manager);
    std::atomic<long> calls{0}, wrong{0}, managers{0}, changes{0};
    const auto expect = [&](int32_t result, std::initializer_list<int32_t> allowed) {
        wrong += std::find(allowed.begin(), allowed.end(), result) == allowed.end();
        ++calls;
    };
    // Runs everything for a while, then what the library holds with no call in flight and detection open.
    const auto soak = [&](int forSeconds) {
        std::atomic<bool> stop{false};
        std::vector<TestThread> threads;
        for (int host = 0; host < 8; ++host)
            threads.emplace_back([&, host] {
                std::vector<PORT_INFO> ports(33);
                std::vector<uint32_t> addresses(32 * PORT_INFO_MAX_ADDRESSES);
                for (uint32_t i = host; !stop; ++i) {
                    const uint32_t records = i % 34, bytes = records * sizeof(PORT_INFO) + i % 7;
                    uint32_t copied = 0, total = 0, count = i % 9, needed = 0, status = 0;
                    expect(manager->GetPorts(records ? ports.data() : nullptr, records ? bytes : 0, &copied, &total, i % 4), {LS_OK});
                    expect(manager->GetGateways(addresses.data(), i % 130, &count), {LS_OK, LS_ERROR_BUFFER_TOO_SMALL});
                    expect(manager->GetDnsServers(addresses.data(), i % 13000, &count), {LS_OK, LS_ERROR_BUFFER_TOO_SMALL});
                    expect(manager->GetWinsServers(i % 2 ? addresses.data() : nullptr, 4096, &count), {LS_OK, LS_ERROR_BUFFER_TOO_SMALL});
                    expect(manager->GetVPNDetectionResult(addresses.data(), i % 40, &count, &needed), {LS_OK, LS_ERROR_FAILED});
                    expect(manager->CheckVPNStatus(static_cast<EPLUGINTYPE>(i % 11), &status), {LS_OK, LS_ERROR_NO_PLUGIN, LS_ERROR_FAILED});
                    expect(manager->IsVPNDetectorOpen(), {0, 1});
                    manager->GetChangeCount();
                }
            });
        threads.emplace_back([&] {
            for (; !stop; ++managers) {  // a second manager comes and goes
                const Manager second(create(), destroy);
                Sleep(100);
            }
        });
        threads.emplace_back([&] {  // detection opens and closes, and every third time the machine changes
            for (int i = 0; !stop; ++i, Sleep(50)) {
                expect(manager->OpenVPNDetector(i % 3), {LS_OK});
                if (i % 3) continue;
                const int round = static_cast<int>(++changes);
                const Machine machine = SoakMachine(round);
                scope.SetIpHelper(machine.ipHelper);
                scope.SetRas(*machine.ras);
                traces.SetDword(kCiscoKey, "TunnelEstablished", round % 3);
                traces.SetDword(kCheckpointKey, "ClientConnected", round % 2);
            }
        });
        for (long second = 0, lastCalls = -1, stalled = 0; second < forSeconds; ++second, lastCalls = calls, Sleep(1000))
            if (stalled = calls == lastCalls ? stalled + 1000 : 0; stalled >= kStallMs) Deadlock();
        stop = true;
        for (TestThread& thread : threads) if (!thread.Join(kStallMs)) Deadlock();
        manager->OpenVPNDetector(1);
        return std::pair(ProcessHandleCount(), HeapBytesInUse());
    };
    const auto [firstHandles, firstHeap] = soak(seconds / 4);
    const auto [lastHandles, lastHeap] = soak(seconds - seconds / 4);
    std::printf("soak: %d s, %ld calls, %ld managers created and deleted, %ld machine changes, %ld wrong answers; "
                "handles %ld -> %ld, heap %llu -> %llu bytes\n",
                seconds, calls.load(), managers.load(), changes.load(), wrong.load(), firstHandles, lastHandles, firstHeap, lastHeap);
    EXPECT_EQ(wrong, 0);
    EXPECT_LE(lastHandles, firstHandles);
    EXPECT_LE(lastHeap, firstHeap + 256 * 1024);  // the port list's length follows the machine
}

}  // namespace
