// Discovery on a thousand made-up machines: up to 300 adapters with texts of random bytes, address chains of every
// length, missing per-adapter data, names alike but for case, PPP links, phone books and connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "manager/adapter_discovery.h"
#include "../manager/manager_harness.h"

namespace {

constexpr int kMachines = 1000;
std::mt19937 g_random;

int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(g_random); }
bool OneIn(int n) { return Below(n) == 0; }
std::string Text(int room) {
    std::string text(static_cast<size_t>(Below(room)), '\0');
    const bool addressy = !OneIn(4);
    for (char& c : text) c = addressy ? "0123456789."[Below(11)] : static_cast<char>(1 + Below(255));
    return text;
}
std::string Address() {
    if (OneIn(3)) return Text(16);
    std::string address = std::to_string(Below(300));
    for (int bound : {256, 256, 70000}) address += "." + std::to_string(Below(bound));
    return address;
}
template <class Make> auto Chain(int longest, Make make) {
    std::vector<decltype(make())> chain(static_cast<size_t>(1 + Below(OneIn(8) ? longest : 3)));
    for (auto& entry : chain) entry = make();
    return chain;
}

Machine MakeMachine() {
    static const UINT kTypes[] = {MIB_IF_TYPE_ETHERNET, MIB_IF_TYPE_TOKENRING, MIB_IF_TYPE_PPP, IF_TYPE_IEEE1394, 71, 0};
    static const char* const kDevices[] = {"modem", "PPPoE", "vpn", "isdn", ""};
    Machine machine;
    for (int index = 1, adapters = OneIn(50) ? Below(301) : Below(8); index <= adapters; ++index)
        machine.ipHelper.adapters.push_back(
            {.name = OneIn(5) ? "{SAME-NAME}" : OneIn(5) ? "{same-name}" : "{" + std::to_string(index) + Text(40) + "}",
             .description = OneIn(10) ? "Cisco " + Text(100) : Text(132), .type = kTypes[Below(6)],
             .index = OneIn(10) ? 9999u /* no per-adapter data */ : static_cast<DWORD>(index),
             .mac = std::vector<BYTE>(Below(9)), .dhcpEnabled = static_cast<UINT>(Below(3)), .dhcpServer = Address(),
             .addresses = Chain(250, [] { return std::pair(Address(), Address()); }), .gateways = Chain(4, Address),
             .haveWins = OneIn(2), .primaryWins = Chain(220, Address), .secondaryWins = Chain(20, Address),
             .dns = OneIn(4) ? std::vector<std::string>{} : Chain(220, Address),
             .speed = OneIn(3) ? 54000000 : static_cast<DWORD>(Below(1 << 30))});
    FakeRas& ras = machine.ras.emplace();
    for (int i = Below(12); i > 0; --i)
        ras.phoneBook.push_back({OneIn(3) ? "Office" : "Entry " + std::to_string(Below(4)), kDevices[Below(5)]});
    for (const FakeRasEntry& entry : ras.phoneBook)
        if (OneIn(4)) ras.connections.push_back({OneIn(2) ? entry.name : "office", kDevices[Below(5)], Address()});
    return machine;
}

// An address text as IP Helper holds it: in 16 bytes with the terminator.
uint32_t Parsed(const std::string& text) { return ParseDottedAddress(text.substr(0, 15).c_str()); }
template <size_t N> bool Terminated(const char (&field)[N]) { return std::memchr(field, '\0', N) != nullptr; }

TEST(RandomMachines, DiscoveryKeepsEveryRecordWithinItsRules) {
    const char* replay = std::getenv("LINKSET_SEED");
    const unsigned seed = replay ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10)) : std::random_device{}();
    std::printf("seed %u (LINKSET_SEED=%u replays this run)\n", seed, seed);
    g_random.seed(seed);
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    ManagerProbe probe(manager);
    size_t adapterCount = 0;
    for (int machineNo = 0; machineNo < kMachines && !HasFailure(); ++machineNo) {
        SCOPED_TRACE("machine " + std::to_string(machineNo) + " of seed " + std::to_string(seed));
        const Machine machine = MakeMachine();
        const std::vector<FakeAdapter>& adapters = machine.ipHelper.adapters;
        adapterCount += adapters.size();
        const MachineScope scope(machine);
        probe.Tick(1);  // both passes
        // Phone-book ports carry no address; then the adapters' dial-up ports, each of the last PPP adapter of its
        // name, then the others in adapter order.
        bool dialUpDone = false;
        auto others = adapters.begin();
        for (const PORT_INFO& port : Ports(manager)) {
            ASSERT_TRUE(Terminated(port.ConnectionName) && Terminated(port.Description) && Terminated(port.AdapterName));
            for (const uint32_t count : {port.IpAddressCount, port.DnsServerCount, port.WinsServerCount})
                ASSERT_LE(count, uint32_t{PORT_INFO_MAX_ADDRESSES});
            EXPECT_EQ(port.HasIpAddress, port.IpAddress != 0 ? 1u : 0u);
            EXPECT_EQ(port.HasGateway, port.Gateway != 0 ? 1u : 0u);
            if (std::strcmp(port.AdapterName, kPhoneBookAdapterName) == 0) {
                EXPECT_TRUE(port.PortType == PORT_TYPE_DIALUP && port.IsDialUp == 1);
                EXPECT_EQ(port.IpAddress + port.HasIpAddress + port.IpAddressCount + port.DnsServerCount, 0u);
                continue;
            }
            EXPECT_FALSE(port.IsDialUp && dialUpDone) << "a dial-up port behind the others";
            dialUpDone = dialUpDone || !port.IsDialUp;
            const FakeAdapter* adapter = nullptr;
            for (const FakeAdapter& a : adapters)
                if (port.IsDialUp && a.type == MIB_IF_TYPE_PPP && std::strncmp(a.name.c_str(), port.AdapterName, 255) == 0) adapter = &a;
            while (!port.IsDialUp && others != adapters.end() && others->type == MIB_IF_TYPE_PPP) ++others;
            if (!port.IsDialUp && others != adapters.end()) adapter = &*others++;
            ASSERT_NE(adapter, nullptr) << "a port of no adapter: " << port.AdapterName;
            EXPECT_EQ(port.IpAddressCount, std::min<size_t>(adapter->addresses.size(), PORT_INFO_MAX_ADDRESSES));
            for (uint32_t i = 0; i < port.IpAddressCount; ++i) ASSERT_EQ(port.IpAddresses[i].Address, Parsed(adapter->addresses[i].first));
            EXPECT_EQ(port.IpAddress, Parsed(adapter->addresses.front().first));
            EXPECT_EQ(port.Gateway, Parsed(adapter->gateways.front()));
        }
    }
    std::printf("%d machines, %zu adapters\n", kMachines, adapterCount);
}

}  // namespace
