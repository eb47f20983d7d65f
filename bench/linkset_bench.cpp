// Benchmarks of the manager: host query latency against a plain copy of the same bytes, the
// cost of an adapter pass against the bare IP Helper calls it makes, the CPU an idle manager
// uses between passes, and a VPN detector's update with every kind against the bare registry
// reads, process lookups, service queries, rule-library session and port copies its plug-ins make.
//
//   linkset_bench queries | discovery | idle [seconds] | vpn
//
// The discovery benchmark needs the scenario IP Helper double beside the executable and
// WINEDLLOVERRIDES=iphlpapi=n,b (bench/run-bench.sh arranges both).
#include <windows.h>
#include <wlanapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <tlhelp32.h>
#include <linkset/linkset.hpp>

#include "double_support.h"
#include "machine.h"
#include "manager/adapter_discovery.h"
#include "manager_harness.h"
#include "named_process.h"
#include "sources/entry_points.h"
#include "sources/ip_helper.h"
#include "system/handles.h"
#include "system/system_facts.h"
#include "test_service.h"
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

// The system calls one pass must make, with nothing else: the two-step reads of the adapter list
// and interface table; for each adapter the two-step read of its DNS data, the registry read of
// its connection name, the wireless LAN service's interface list and, before Vista, the walk of
// the network-card records that names its description.
class BareSystemCalls {
public:
    BareSystemCalls() : m_wlan(LoadLibraryA("wlanapi.dll")) {
        m_open = ResolveEntryPoint<decltype(&WlanOpenHandle)>(m_wlan.get(), "WlanOpenHandle");
        m_enum = ResolveEntryPoint<decltype(&WlanEnumInterfaces)>(m_wlan.get(), "WlanEnumInterfaces");
        m_free = ResolveEntryPoint<decltype(&WlanFreeMemory)>(m_wlan.get(), "WlanFreeMemory");
        m_close = ResolveEntryPoint<decltype(&WlanCloseHandle)>(m_wlan.get(), "WlanCloseHandle");
    }

    void Run(CIpHelperAPI& ipHelper, const std::vector<FakeAdapter>& adapters) {
        ULONG size = 0;
        ipHelper.GetAdaptersInfo(nullptr, &size);
        size = static_cast<ULONG>(m_list.size());
        ipHelper.GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(m_list.data()), &size);
        size = 0;
        ipHelper.GetIfTable(nullptr, &size);
        size = static_cast<ULONG>(m_table.size());
        ipHelper.GetIfTable(reinterpret_cast<MIB_IFTABLE*>(m_table.data()), &size);
        for (const FakeAdapter& adapter : adapters) {
            size = 0;
            ipHelper.GetPerAdapterInfo(adapter.index, nullptr, &size);
            size = static_cast<ULONG>(m_perAdapter.size());
            ipHelper.GetPerAdapterInfo(adapter.index, reinterpret_cast<IP_PER_ADAPTER_INFO*>(m_perAdapter.data()), &size);
            ReadKey(("SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" +
                     adapter.name + "\\Connection").c_str(), "Name");
            if (!IsVistaOrLater()) WalkNetworkCards();
            AskWirelessService();
        }
    }

private:
    static void ReadKey(const char* path, const char* value) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
        char text[260];
        DWORD size = sizeof text;
        RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
    }
    static void WalkNetworkCards() {
        const char* cards = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, cards, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
        char name[256];
        for (DWORD i = 0, length = sizeof name; RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
             ++i, length = sizeof name) {
            const std::string card = std::string(cards) + "\\" + name;
            ReadKey(card.c_str(), "ServiceName");
            ReadKey(card.c_str(), "Description");
        }
        RegCloseKey(key);
    }
    void AskWirelessService() {
        DWORD version = 0;
        HANDLE client = nullptr;
        if (!m_open || m_open(2, nullptr, &version, &client) != ERROR_SUCCESS) return;
        WLAN_INTERFACE_INFO_LIST* list = nullptr;
        if (m_enum(client, nullptr, &list) == ERROR_SUCCESS) m_free(list);
        m_close(client, nullptr);
    }

    std::vector<char> m_list = std::vector<char>(1 << 20), m_table = std::vector<char>(1 << 20), m_perAdapter = std::vector<char>(4096);
    UniqueModule m_wlan;
    decltype(&WlanOpenHandle) m_open;
    decltype(&WlanEnumInterfaces) m_enum;
    decltype(&WlanFreeMemory) m_free;
    decltype(&WlanCloseHandle) m_close;
};

void BenchDiscovery() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    std::printf("Windows %lu.%lu as Wine reports it; %s\n\n", version.dwMajorVersion, version.dwMinorVersion,
                IsVistaOrLater() ? "descriptions from IP Helper" : "descriptions from the registry table, per adapter");
    std::printf("| adapters | one pass | its system calls alone | ratio |\n|---:|---:|---:|---:|\n");
    for (int n : kSizes) {
        if (!GetProcAddress(LoadLibraryA("iphlpapi.dll"), "SetFakeIpHelper")) {
            std::printf("the IP Helper double is not loaded: run through bench/run-bench.sh\n");
            return;
        }
        Machine machine;
        machine.ipHelper.adapters = Adapters(n);
        const MachineScope scope(machine);
        CIpHelperAPI ipHelper;
        BareSystemCalls bare;
        const int iterations = n == 200 ? 5 : 50;
        // Measured in turns, so that a busy moment of the machine falls on both alike; the
        // system's own calls vary from turn to turn under Wine, so the middle turn is told.
        std::vector<double> passes, floors;
        for (int turn = 0; turn < 11; ++turn) {
            passes.push_back(MicrosecondsPerCall(iterations, [&] { DiscoverAdapters(ipHelper, RasConnLayout::Other); }));
            floors.push_back(MicrosecondsPerCall(iterations, [&] { bare.Run(ipHelper, machine.ipHelper.adapters); }));
        }
        const auto median = [](std::vector<double>& values) {
            std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
            return values[values.size() / 2];
        };
        const double pass = median(passes), floor = median(floors);
        std::printf("| %d | %.0f µs | %.0f µs | %.2f |\n", n, pass, floor, pass / floor);
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

// Whether a service runs, as the bare calls the library makes for it.
bool BareServiceRuns(const char* name, DWORD managerAccess) {
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, managerAccess));
    const UniqueServiceHandle service(manager ? OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status = {};
    return service && QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING;
}

// SafeNet's later generation as bare calls: the service, its configuration, then one session
// of the rule library loaded from beside the program, and the library freed again.
void BareRuleLibrarySession(const std::string& conApi) {
    if (!BareServiceRuns("SOFTREMOTEPM", SC_MANAGER_ENUMERATE_SERVICE)) return;
    {
        const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
        const UniqueServiceHandle service(OpenServiceA(manager.get(), "SOFTREMOTEPM", SERVICE_QUERY_CONFIG));
        std::vector<char> config(4096);
        DWORD needed = 0;
        QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config.data()), 4096, &needed);
    }
    const UniqueModule library(LoadLibraryA(conApi.c_str()));
    using Session = int32_t (*)(void*);
    using StatServer = int32_t (*)(void*, int32_t);
    using ReadRule = int32_t (*)(void*, void*);
    void* session = nullptr;
    ResolveEntryPoint<int32_t (*)(void**)>(library.get(), "ConAPI_Initialize")(&session);
    const auto statServer = ResolveEntryPoint<StatServer>(library.get(), "ConAPI_StartStatServer");
    statServer(session, 0);
    const auto next = ResolveEntryPoint<ReadRule>(library.get(), "ConAPI_GetNextRuleData");
    unsigned char rule[2576];
    for (int32_t read = ResolveEntryPoint<ReadRule>(library.get(), "ConAPI_GetRuleData")(session, rule);
         read == 0 && rule[256] != 1; read = next(session, rule)) {
    }
    statServer(session, 1);
    ResolveEntryPoint<Session>(library.get(), "ConAPI_Close")(session);
}

// What thirty detector updates make the eight plug-ins do, as bare calls (thirty is the least
// count every pacing divides): every update Check Point's read and SafeNet's later generation,
// every second Cisco 3000's and Aventail's, every third Juniper's key and ports, every fifth
// the RAS VPN plug-in's two GetPorts once it has seen a VPN port. Alcatel does nothing, and
// NetScreen, once its one attempt is over, answers at once.
constexpr int kUpdatesPerRound = 30;
void BareTraceReads(ILinkSetManager& manager, std::vector<PORT_INFO>& ports, const std::string& conApi, bool rasSeen) {
    uint32_t copied = 0, total = 0;
    const uint32_t bytes = static_cast<uint32_t>(ports.size() * sizeof(PORT_INFO));
    for (int update = 0; update < kUpdatesPerRound; ++update) {
        BareRead(kCheckpointKey, "ClientConnected");
        BareRuleLibrarySession(conApi);
        if (update % 2 == 0) {
            BareRead(kCiscoKey, "TunnelEstablished");
            if (!BareRead(kAventailKey, "State") && BareKeyOpens(kAventailServiceKey) && BareProcessRuns("ngvpnmgr.exe"))
                BareProcessRuns("ngmonitor.exe");
        }
        if (update % 3 == 2 && BareKeyOpens(kJuniperKey32BitView))
            manager.GetPorts(ports.data(), bytes, &copied, &total, PORT_FILTER_ALL);
        if (update % 5 == 0 && rasSeen) {
            manager.GetPorts(nullptr, 0, &copied, &total, PORT_FILTER_ALL);
            std::vector<PORT_INFO> all(total);
            manager.GetPorts(all.data(), static_cast<uint32_t>(all.size() * sizeof(PORT_INFO)), &copied, &total, PORT_FILTER_ALL);
        }
    }
}

void BenchVpn() {
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    const std::string doubles = ThisExecutableFolder() + "\\..\\";
    const std::string conApi = doubles + "conapi_double\\GUI\\ConAPI.dll";
    std::vector<PORT_INFO> buffer(16);
    std::printf("| traces | one detector update | bare calls it makes | ratio |\n|---|---:|---:|---:|\n");
    const char* const rows[] = {"absent",
                                "values, service key, Juniper's key and adapter, SOFTREMOTEPM with its rule library, a RAS VPN port",
                                "Aventail without State: service key and both processes"};
    for (int row = 0; row < 3; ++row) {
        std::vector<PORT_INFO> ports;
        for (int i = 0; i < 4; ++i) ports.push_back(TypicalPort(i));
        if (row > 0) std::strcpy(ports.back().Description, "Juniper Network Connect Virtual Adapter");
        if (row == 1) ports[2].IsVpnDevice = 1;
        ManagerProbe(manager).SetPorts(ports);
        RegistryScenario registry({kCiscoKey, kCheckpointKey, kAventailKey, kAventailServiceKey, kJuniperKey32BitView});
        std::vector<std::unique_ptr<NamedProcess>> processes;
        std::unique_ptr<TestService> softRemote;
        if (row > 0) {
            registry.CreateKey(kAventailServiceKey);
            registry.CreateKey(kJuniperKey32BitView);
        }
        if (row == 1) {
            SetTunnelValues(registry, 1, 1, 1);
            softRemote = std::make_unique<TestService>("SOFTREMOTEPM", TestService::Behaviour::Runs);
            softRemote->Start();
            softRemote->SetProgramPath(doubles + "conapi_double\\softremote.exe");
            SetEnvironmentVariableA(kConApiSteering, "001");  // three rules, the last one's tunnel up
        }
        if (row == 2) {
            for (const char* name : {"ngvpnmgr.exe", "ngmonitor.exe"}) processes.push_back(std::make_unique<NamedProcess>(name));
        }
        // Plug-ins are built for the row's machine; the updates before measuring use up
        // NetScreen's countdown, after which its one attempt has failed for good.
        CVPNDetector detector(&manager);
        CVPNConfig config;
        for (uint32_t kind = PLUGIN_CISCO3000; kind < PLUGIN_ALL; ++kind) config.EnablePlugIn(static_cast<EPLUGINTYPE>(kind), true);
        detector.SetConfig(&config);
        for (int i = 0; i < 2 * kUpdatesPerRound; ++i) detector.Update();
        // The two are timed in turns, so that both meet the same moments of a busy machine; the
        // rule library's double keeps a journal of its calls, emptied after each round.
        double update = 1e300, bare = 1e300;
        for (int turn = 0; turn < 12; ++turn) {
            update = std::min(update, MicrosecondsPerCall(1, [&] {
                for (int i = 0; i < kUpdatesPerRound; ++i) detector.Update();
                TakeCalls(kConApiCalls);
            }) / kUpdatesPerRound);
            bare = std::min(bare, MicrosecondsPerCall(1, [&] {
                BareTraceReads(manager, buffer, conApi, row == 1);
                TakeCalls(kConApiCalls);
            }) / kUpdatesPerRound);
        }
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
