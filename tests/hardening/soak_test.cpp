// A soak through the real DLL: eight host threads on every slot with buffers of every size class
// while the cycle runs, detection opens and closes, a second manager comes and goes, and the
// machine changes underneath (adapters, the phone book, the VPN clients' registry traces). No
// crash, no deadlock (a watchdog dumps the threads of a hung run and ends it), answers only from
// the documented set, and as many handles and heap bytes held at the end as after the start.
// LINKSET_SOAK_SECONDS sets the length (20 by default; bench/run-soak.sh runs the long form).
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "child_process.h"
#include "machine.h"
#include "registry_scenario.h"
#include "resource_counts.h"
#include "test_threads.h"

namespace {

constexpr DWORD kStallMs = 20000;  // no call finished for this long: a deadlock
constexpr UINT kDeadlockExitCode = 3;
const char* const kCiscoKey = "SOFTWARE\\Cisco Systems\\VPN Client";
const char* const kCheckpointKey = "SOFTWARE\\CheckPoint\\SecuRemote";

// Where each thread of the process stands, then the end of the run.
[[noreturn]] void DumpThreadsAndEnd() {
    std::fprintf(stderr, "deadlock: no call finished for %lu ms; threads:\n", kStallMs);
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() || entry.th32ThreadID == GetCurrentThreadId()) continue;
        const UniqueHandle thread(OpenThread(THREAD_ALL_ACCESS, FALSE, entry.th32ThreadID));
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        SuspendThread(thread.get());
        GetThreadContext(thread.get(), &context);
        HMODULE module = nullptr;
        char name[MAX_PATH] = "?";
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<const char*>(context.Rip), &module);
        GetModuleFileNameA(module, name, sizeof name);
        std::fprintf(stderr, "  thread %lu at %s+0x%llx\n", entry.th32ThreadID, name,
                     static_cast<unsigned long long>(context.Rip - reinterpret_cast<DWORD64>(module)));
    }
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kDeadlockExitCode);
    std::abort();
}

Machine SoakMachine(int round) {
    Machine machine;
    machine.ipHelper.adapters = {MakeAdapter("{50AC0001-0000-4000-8000-000000000001}", MIB_IF_TYPE_ETHERNET, 1,
                                             "10.9.0." + std::to_string(round % 200 + 1)),
                                 MakeAdapter("{50AC0002-0000-4000-8000-000000000002}", MIB_IF_TYPE_PPP, 2, "10.8.0.5")};
    FakeRas ras;
    for (int i = 0; i <= round % 12; ++i) ras.phoneBook.push_back({"Entry " + std::to_string(i), i % 2 ? "vpn" : "modem"});
    ras.connections = {{"Office VPN", "vpn", "10.8.0.5"}};
    machine.ras = ras;
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
    ILinkSetManager* manager = create();
    ASSERT_NE(manager, nullptr);

    std::atomic<bool> stop{false}, pause{false};
    std::atomic<int> resting{0};
    std::atomic<long> calls{0}, wrong{0}, managers{0}, changes{0};
    // Workers rest while the main thread counts what the library holds, so that none of their calls is in flight.
    const auto rest = [&] {
        if (!pause) return;
        ++resting;
        while (pause && !stop) Sleep(1);
        --resting;
    };
    const auto expect = [&](int32_t result, std::initializer_list<int32_t> allowed) {
        wrong += std::find(allowed.begin(), allowed.end(), result) == allowed.end();
        ++calls;
    };
    std::vector<TestThread> threads;
    for (int host = 0; host < 8; ++host)
        threads.emplace_back([&, host] {
            std::vector<PORT_INFO> ports(33);
            std::vector<uint32_t> addresses(32 * PORT_INFO_MAX_ADDRESSES);
            for (uint32_t i = host; !stop; ++i, rest()) {
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
    threads.emplace_back([&] {  // detection opened and closed
        for (int i = 0; !stop; ++i, Sleep(50), rest()) expect(manager->OpenVPNDetector(i % 3), {LS_OK});
    });
    threads.emplace_back([&] {  // a second manager comes and goes
        for (; !stop; ++managers, rest()) {
            ILinkSetManager* second = create();
            Sleep(100);
            destroy(second);
        }
    });
    threads.emplace_back([&] {  // the machine changes underneath
        for (int round = 1; !stop; ++round, ++changes, Sleep(150), rest()) {
            const Machine machine = SoakMachine(round);
            scope.SetIpHelper(machine.ipHelper);
            scope.SetRas(*machine.ras);
            traces.SetDword(kCiscoKey, "TunnelEstablished", round % 3);
            traces.SetDword(kCheckpointKey, "ClientConnected", round % 2);
        }
    });

    // What the library holds, counted with the workers resting and detection open: after the
    // first quarter and at the end.
    const auto holds = [&] {
        pause = true;
        for (DWORD waited = 0; resting < static_cast<int>(threads.size()); waited += 10, Sleep(10))
            if (waited >= kStallMs) DumpThreadsAndEnd();
        manager->OpenVPNDetector(1);
        const std::pair<long, unsigned long long> held(ProcessHandleCount(), HeapBytesInUse());
        pause = false;
        return held;
    };
    std::pair<long, unsigned long long> first;
    long lastCalls = -1;
    DWORD stalled = 0;
    for (int second = 1; second <= seconds; ++second) {
        Sleep(1000);
        stalled = calls == lastCalls ? stalled + 1000 : 0;
        if (stalled >= kStallMs) DumpThreadsAndEnd();
        lastCalls = calls;
        if (second == seconds / 4) first = holds();
    }
    const auto [lastHandles, lastHeap] = holds();
    stop = true;
    for (TestThread& thread : threads) if (!thread.Join(kStallMs)) DumpThreadsAndEnd();
    destroy(manager);
    const auto [firstHandles, firstHeap] = first;
    std::printf("soak: %d s, %ld calls, %ld managers created and deleted, %ld machine changes, %ld wrong answers; "
                "handles %ld -> %ld, heap %llu -> %llu bytes\n",
                seconds, calls.load(), managers.load(), changes.load(), wrong.load(), firstHandles, lastHandles,
                firstHeap, lastHeap);
    EXPECT_EQ(wrong, 0);
    EXPECT_LE(lastHandles, firstHandles);
    EXPECT_LE(lastHeap, firstHeap + 256 * 1024);  // the port list's length follows the machine
}

}  // namespace
