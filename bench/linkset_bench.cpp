// Benchmarks of the manager: host query latency against a plain copy of the same bytes, the
// cost of an adapter pass against the bare IP Helper calls it makes, the CPU an idle manager
// uses between passes, and a VPN detector's update against the bare registry reads, process
// lookups and port copy its plug-ins make.
//
//   linkset_bench queries | discovery | idle [seconds] | vpn
//
// The discovery benchmark needs the scenario IP Helper double beside the executable and
// WINEDLLOVERRIDES=iphlpapi=n,b (bench/run-bench.sh arranges both).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <tlhelp32.h>
#include <linkset/linkset.hpp>

#include "machine.h"
#include "manager/adapter_discovery.h"
#include "manager_harness.h"
#include "named_process.h"
#include "sources/ip_helper.h"
#include "system/handles.h"
#include "system/system_facts.h"
#include "vpn/vpn_detector.h"
#include "../tests/vpn/vpn_traces.h"

namespace {

const int kSizes[] = {1, 16, 200};

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / frequency;
}

// Microseconds per call: the best of five runs of `iterations` calls, so that a noisy machine
// shows its quiet moments.
double MicrosecondsPerCall(int iterations, const std::function<void()>& call) {
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        const double start = Now();
        for (int i = 0; i < iterations; ++i) call();
        best = std::min(best, (Now() - start) / iterations);
    }
    return best * 1e6;
}

uint32_t Ip(int a, int b, int c, int d) { return a | b << 8 | c << 16 | static_cast<uint32_t>(d) << 24; }

PORT_INFO TypicalPort(int i) {
    PORT_INFO port = MakePort(PORT_TYPE_ETHERNET, "Local Area Connection", Ip(10, 0, i / 250, i % 250 + 1), Ip(10, 0, 0, 254));
    port.DnsServerCount = 2;
    port.DnsServers[0].Address = Ip(8, 8, 8, 8);
    port.DnsServers[1].Address = Ip(8, 8, 4, 4);
    port.WinsServerCount = 1;
    port.WinsServers[0].Address = Ip(10, 0, 0, 9);
    return port;
}

// Classifying, as a host would, the records GetPorts wrote: physical adapters with a description
// as IP Helper gives it, which no row matches, so every port is also read for the words that
// make it an unknown client's tunnel.
double ClassifyMicroseconds(int iterations, std::vector<PORT_INFO> ports) {
    for (PORT_INFO& port : ports) std::strcpy(port.Description, "Intel(R) Ethernet Connection (7) I219-LM");
    volatile int tunnels = 0;
    return MicrosecondsPerCall(iterations, [&] {
        int found = 0;
        for (const PORT_INFO& port : ports) found += static_cast<bool>(linkset::classify_tunnel(port));
        tunnels = found;
    });
}

void BenchQueries() {
    std::printf("| ports | GetPorts | memcpy of the same bytes | GetGateways | GetDnsServers | GetWinsServers "
                "| classify_tunnel, all ports | its ratio to GetPorts |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int n : kSizes) {
        CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
        std::vector<PORT_INFO> ports;
        for (int i = 0; i < n; ++i) ports.push_back(TypicalPort(i));
        ManagerProbe(manager).SetPorts(ports);
        std::vector<PORT_INFO> buffer(n), source(ports);
        std::vector<uint32_t> addresses(3 * 32);
        const int iterations = n == 200 ? 2000 : 20000;
        uint32_t copied = 0, total = 0, count = 0;
        const uint32_t bytes = static_cast<uint32_t>(n * sizeof(PORT_INFO));
        const uint32_t addressBytes = static_cast<uint32_t>(addresses.size() * 4);
        const double getPorts = MicrosecondsPerCall(iterations, [&] { manager.GetPorts(buffer.data(), bytes, &copied, &total, 0); });
        const double floor = MicrosecondsPerCall(iterations, [&] {
            std::memcpy(buffer.data(), source.data(), bytes);
            asm volatile("" ::: "memory");
        });
        const double gateways = MicrosecondsPerCall(iterations / 4, [&] { manager.GetGateways(addresses.data(), addressBytes, &count); });
        const double dns = MicrosecondsPerCall(iterations / 4, [&] { manager.GetDnsServers(addresses.data(), addressBytes, &count); });
        const double wins = MicrosecondsPerCall(iterations / 4, [&] { manager.GetWinsServers(addresses.data(), addressBytes, &count); });
        const double classify = ClassifyMicroseconds(iterations, buffer);
        std::printf("| %d | %.2f µs | %.2f µs | %.2f µs | %.2f µs | %.2f µs | %.2f µs | %.2f |\n", n, getPorts, floor,
                    gateways, dns, wins, classify, classify / getPorts);
    }
}

std::vector<FakeAdapter> Adapters(int n) {
    std::vector<FakeAdapter> adapters;
    for (int i = 0; i < n; ++i) {
        FakeAdapter made;
        made.name = "{BENCH-" + std::to_string(i) + "}";
        made.description = "Benchmark adapter";
        made.index = static_cast<DWORD>(i + 1);
        made.addresses = {{"10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1), "255.255.0.0"}};
        made.gateways = {"10.0.0.254"};
        made.dns = {"8.8.8.8", "8.8.4.4"};
        adapters.push_back(made);
    }
    return adapters;
}

// The IP Helper calls one pass makes, with nothing else: the two-step reads of the adapter
// list and interface table, and the two-step read of each adapter's DNS data.
void BareIpHelperCalls(CIpHelperAPI& ipHelper, int adapters) {
    static std::vector<char> list(1 << 20), table(1 << 20), perAdapter(4096);
    ULONG size = 0;
    ipHelper.GetAdaptersInfo(nullptr, &size);
    size = static_cast<ULONG>(list.size());
    ipHelper.GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(list.data()), &size);
    size = 0;
    ipHelper.GetIfTable(nullptr, &size);
    size = static_cast<ULONG>(table.size());
    ipHelper.GetIfTable(reinterpret_cast<MIB_IFTABLE*>(table.data()), &size);
    for (int i = 1; i <= adapters; ++i) {
        size = 0;
        ipHelper.GetPerAdapterInfo(i, nullptr, &size);
        size = static_cast<ULONG>(perAdapter.size());
        ipHelper.GetPerAdapterInfo(i, reinterpret_cast<IP_PER_ADAPTER_INFO*>(perAdapter.data()), &size);
    }
}

void BenchDiscovery() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    std::printf("Windows %lu.%lu as Wine reports it; %s\n\n", version.dwMajorVersion, version.dwMinorVersion,
                IsVistaOrLater() ? "descriptions from IP Helper" : "descriptions from the registry table, per adapter");
    std::printf("| adapters | one pass | per adapter | bare IP Helper calls | per adapter |\n|---:|---:|---:|---:|---:|\n");
    for (int n : kSizes) {
        if (!GetProcAddress(LoadLibraryA("iphlpapi.dll"), "SetFakeIpHelper")) {
            std::printf("the IP Helper double is not loaded: run through bench/run-bench.sh\n");
            return;
        }
        Machine machine;
        machine.ipHelper.adapters = Adapters(n);
        const MachineScope scope(machine);
        CIpHelperAPI ipHelper;
        const int iterations = n == 200 ? 5 : 50;
        const double pass = MicrosecondsPerCall(iterations, [&] { DiscoverAdapters(ipHelper, RasConnLayout::Other); });
        const double bare = MicrosecondsPerCall(iterations, [&] { BareIpHelperCalls(ipHelper, n); });
        std::printf("| %d | %.0f µs | %.1f µs | %.0f µs | %.1f µs |\n", n, pass, pass / n, bare, bare / n);
    }
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}

void BenchIdle(int seconds) {
    CLinkSetManager manager;
    Sleep(1500);  // past the first adapter pass
    const double cpuBefore = ProcessCpuSeconds(), wallBefore = Now();
    Sleep(seconds * 1000);
    const double cpu = ProcessCpuSeconds() - cpuBefore, wall = Now() - wallBefore;
    std::printf("idle manager: %.3f s of CPU in %.1f s (%.3f%% of one core), %d ticks and %d adapter passes\n", cpu,
                wall, 100 * cpu / wall, seconds * 2, seconds / 5);
}

// The registry read of a value as bare system calls: open, query, close. True when it was read.
bool BareRead(const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD value = 0, type = 0, size = sizeof value;
    const bool read = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read;
}

bool BareKeyOpens(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// One walk of the process list as bare tool-help calls.
bool BareProcessRuns(const char* name) {
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry))
        if (_stricmp(entry.szExeFile, name) == 0) return true;
    return false;
}

// What six detector updates make the five plug-ins do, as bare calls: six works of Check Point's,
// three of Cisco 3000's and Aventail's, two of Juniper's (six is the least count every pacing
// divides).
constexpr int kUpdatesPerRound = 6;
void BareTraceReads(ILinkSetManager& manager, std::vector<PORT_INFO>& ports) {
    for (int update = 0; update < kUpdatesPerRound; ++update) {
        BareRead(kCheckpointKey, "ClientConnected");
        if (update % 2 == 0) {
            BareRead(kCiscoKey, "TunnelEstablished");
            if (!BareRead(kAventailKey, "State") && BareKeyOpens(kAventailServiceKey) && BareProcessRuns("ngvpnmgr.exe"))
                BareProcessRuns("ngmonitor.exe");
        }
        uint32_t copied = 0, total = 0;
        if (update % 3 == 2 && BareKeyOpens(kJuniperKey32BitView))
            manager.GetPorts(ports.data(), static_cast<uint32_t>(ports.size() * sizeof(PORT_INFO)), &copied, &total, PORT_FILTER_ALL);
    }
}

void BenchVpn() {
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    std::vector<PORT_INFO> ports;
    for (int i = 0; i < 4; ++i) ports.push_back(TypicalPort(i));
    std::strcpy(ports.back().Description, "Juniper Network Connect Virtual Adapter");
    ManagerProbe(manager).SetPorts(ports);
    CVPNDetector detector(&manager);
    CVPNConfig config;
    for (EPLUGINTYPE kind : {PLUGIN_CISCO3000, PLUGIN_CHECKPOINT, PLUGIN_AVENTAIL, PLUGIN_ALCATEL, PLUGIN_JUNIPERSSL})
        config.EnablePlugIn(kind, true);
    detector.SetConfig(&config);
    std::vector<PORT_INFO> buffer(16);
    std::printf("| traces | one detector update | bare calls it makes | ratio |\n|---|---:|---:|---:|\n");
    const char* const rows[] = {"absent", "values, service key and Juniper's key and adapter",
                                "Aventail without State: service key and both processes"};
    for (int row = 0; row < 3; ++row) {
        RegistryScenario registry({kCiscoKey, kCheckpointKey, kAventailKey, kAventailServiceKey, kJuniperKey32BitView});
        std::vector<std::unique_ptr<NamedProcess>> processes;
        if (row > 0) {
            registry.CreateKey(kAventailServiceKey);
            registry.CreateKey(kJuniperKey32BitView);
        }
        if (row == 1) SetTunnelValues(registry, 1, 1, 1);
        if (row == 2) {
            for (const char* name : {"ngvpnmgr.exe", "ngmonitor.exe"}) processes.push_back(std::make_unique<NamedProcess>(name));
        }
        const double update = MicrosecondsPerCall(200, [&] {
            for (int i = 0; i < kUpdatesPerRound; ++i) detector.Update();
        }) / kUpdatesPerRound;
        const double bare = MicrosecondsPerCall(200, [&] { BareTraceReads(manager, buffer); }) / kUpdatesPerRound;
        std::printf("| %s | %.1f µs | %.1f µs | %.2f |\n", rows[row], update, bare, update / bare);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "queries";
    if (what == "queries") BenchQueries();
    else if (what == "discovery") BenchDiscovery();
    else if (what == "idle") BenchIdle(argc > 2 ? std::max(1, std::atoi(argv[2])) : 20);
    else if (what == "vpn") BenchVpn();
    else {
        std::fprintf(stderr, "usage: linkset_bench queries | discovery | idle [seconds] | vpn\n");
        return 2;
    }
    return 0;
}
