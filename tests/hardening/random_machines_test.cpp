// Discovery on a thousand made-up machines: up to 300 adapters with texts of random bytes and
// lengths, address chains of every length, missing per-adapter data, names alike but for case,
// PPP links, and phone books with entries alike but for case, some of them connected. Whatever
// the machine, the records stay within their fields and follow the rules. A failure prints the
// seed; LINKSET_SEED=<seed> replays that run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "machine.h"
#include "manager/adapter_discovery.h"
#include "manager_harness.h"

namespace {

constexpr int kMachines = 1000;

class MadeUp {
public:
    explicit MadeUp(unsigned seed) : m_random(seed) {}

    int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(m_random); }
    bool OneIn(int n) { return Below(n) == 0; }

    // Text of random bytes, often address-like, at most `room` - 1 long.
    std::string Text(size_t room) {
        static const char kAddressy[] = "0123456789.";
        std::string text(static_cast<size_t>(Below(static_cast<int>(room))), '\0');
        const bool addressy = !OneIn(4);
        for (char& c : text) c = addressy ? kAddressy[Below(11)] : static_cast<char>(1 + Below(255));
        return text;
    }
    std::string Address() {
        return OneIn(3) ? Text(16)
                        : std::to_string(Below(300)) + "." + std::to_string(Below(256)) + "." + std::to_string(Below(256)) +
                              "." + std::to_string(Below(70000));
    }
    std::vector<std::string> Chain(int longest) {
        std::vector<std::string> chain(static_cast<size_t>(1 + Below(OneIn(8) ? longest : 3)));
        for (std::string& entry : chain) entry = Address();
        return chain;
    }

    FakeAdapter Adapter(int index) {
        static const UINT kTypes[] = {MIB_IF_TYPE_ETHERNET, MIB_IF_TYPE_TOKENRING, MIB_IF_TYPE_PPP, IF_TYPE_IEEE1394, 71, 0};
        FakeAdapter a;
        a.name = OneIn(5) ? "{SAME-NAME}" : OneIn(5) ? "{same-name}" : "{" + std::to_string(index) + Text(40) + "}";
        a.description = OneIn(10) ? "Cisco " + Text(100) : Text(132);
        a.type = kTypes[Below(6)];
        a.index = static_cast<DWORD>(OneIn(10) ? 9999 : index);  // 9999: no per-adapter data
        a.mac.resize(static_cast<size_t>(Below(9)));
        a.dhcpEnabled = static_cast<UINT>(Below(3));
        a.dhcpServer = Address();
        a.addresses.clear();
        for (const std::string& address : Chain(250)) a.addresses.push_back({address, Address()});
        a.gateways = Chain(4);
        a.haveWins = OneIn(2);
        a.primaryWins = Chain(220);
        a.secondaryWins = Chain(20);
        a.dns = OneIn(4) ? std::vector<std::string>{} : Chain(220);
        a.speed = OneIn(3) ? 54000000 : static_cast<DWORD>(Below(1 << 30));
        return a;
    }

    // A phone book of entries named alike but for case, some connected under their exact name,
    // and connections that hold the address of a PPP adapter or none.
    FakeRas PhoneBook() {
        static const char* const kDevices[] = {"modem", "PPPoE", "vpn", "isdn", ""};
        FakeRas ras;
        for (int i = Below(12); i > 0; --i)
            ras.phoneBook.push_back({(OneIn(3) ? "Office" : "Entry " + std::to_string(Below(4))), kDevices[Below(5)]});
        for (const FakeRasEntry& entry : ras.phoneBook)
            if (OneIn(4)) ras.connections.push_back({OneIn(2) ? entry.name : "office", kDevices[Below(5)], Address()});
        return ras;
    }

    Machine MakeMachine() {
        Machine machine;
        const int adapters = OneIn(50) ? Below(301) : Below(8);
        for (int i = 0; i < adapters; ++i) machine.ipHelper.adapters.push_back(Adapter(i + 1));
        machine.ras = PhoneBook();
        return machine;
    }

private:
    std::mt19937 m_random;
};

// An address text as IP Helper holds it: in 16 bytes with the terminator.
uint32_t Parsed(const std::string& text) { return ParseDottedAddress(text.substr(0, 15).c_str()); }

template <size_t N> bool Terminated(const char (&field)[N]) { return std::memchr(field, '\0', N) != nullptr; }

// The adapter a port was made from: the others in adapter order, behind the dial-up ports, each
// of which carries the last PPP adapter's data of its name.
std::vector<const FakeAdapter*> SourcesOf(const Machine& machine, const std::vector<PORT_INFO>& ports) {
    std::vector<const FakeAdapter*> sources;
    auto others = machine.ipHelper.adapters.begin();
    for (const PORT_INFO& port : ports) {
        const FakeAdapter* source = nullptr;
        if (port.IsDialUp) {
            for (const FakeAdapter& a : machine.ipHelper.adapters)
                if (a.type == MIB_IF_TYPE_PPP && std::strncmp(a.name.c_str(), port.AdapterName, 255) == 0) source = &a;
        } else {
            while (others != machine.ipHelper.adapters.end() && others->type == MIB_IF_TYPE_PPP) ++others;
            if (others != machine.ipHelper.adapters.end()) source = &*others++;
        }
        sources.push_back(source);
    }
    return sources;
}

// The phone book's share of the ports: one per name without case among the entries that are
// not connected under their exact name, each a dial-up port without an address.
void CheckPhoneBook(const FakeRas& ras, std::vector<PORT_INFO>& ports) {
    std::vector<std::string> names;
    for (const FakeRasEntry& entry : ras.phoneBook) {
        const bool connected = std::any_of(ras.connections.begin(), ras.connections.end(),
                                           [&](const FakeRasConnection& c) { return c.entryName == entry.name; });
        const bool seen = std::any_of(names.begin(), names.end(),
                                      [&](const std::string& name) { return _stricmp(name.c_str(), entry.name.c_str()) == 0; });
        if (!connected && !seen) names.push_back(entry.name);
    }
    const auto entry = [](const PORT_INFO& port) { return std::strcmp(port.AdapterName, "NdisWanIp") == 0; };
    EXPECT_EQ(std::count_if(ports.begin(), ports.end(), entry), static_cast<long>(names.size()));
    for (const PORT_INFO& port : ports)
        if (entry(port)) {
            EXPECT_EQ(port.PortType + port.IsDialUp, 3u);
            EXPECT_EQ(port.IpAddress + port.HasIpAddress + port.IpAddressCount + port.DnsServerCount, 0u);
        }
    ports.erase(std::remove_if(ports.begin(), ports.end(), entry), ports.end());
}

// What one pass of each kind must give for any machine.
void CheckPorts(const Machine& machine, std::vector<PORT_INFO> ports) {
    CheckPhoneBook(*machine.ras, ports);
    const std::vector<const FakeAdapter*> sources = SourcesOf(machine, ports);
    bool dialUpDone = false;
    for (size_t p = 0; p < ports.size(); ++p) {
        const PORT_INFO& port = ports[p];
        ASSERT_TRUE(Terminated(port.ConnectionName) && Terminated(port.Description) && Terminated(port.AdapterName));
        for (const uint32_t count : {port.IpAddressCount, port.DnsServerCount, port.WinsServerCount})
            ASSERT_LE(count, 200u) << "an IP address, DNS or WINS server count";
        EXPECT_EQ(port.HasIpAddress, port.IpAddress != 0 ? 1u : 0u);
        EXPECT_EQ(port.HasGateway, port.Gateway != 0 ? 1u : 0u);
        EXPECT_FALSE(port.IsDialUp && dialUpDone) << "a dial-up port behind the others";
        dialUpDone = dialUpDone || !port.IsDialUp;
        const FakeAdapter* adapter = sources[p];
        ASSERT_NE(adapter, nullptr) << "a port of no adapter: " << port.AdapterName;
        EXPECT_EQ(port.IpAddressCount, std::min<size_t>(adapter->addresses.size(), 200));
        for (uint32_t i = 0; i < port.IpAddressCount; ++i)
            ASSERT_EQ(port.IpAddresses[i].Address, Parsed(adapter->addresses[i].first));
        EXPECT_EQ(port.IpAddress, Parsed(adapter->addresses.front().first));
        EXPECT_EQ(port.Gateway, Parsed(adapter->gateways.front()));
    }
}

TEST(RandomMachines, DiscoveryKeepsEveryRecordWithinItsRules) {
    const char* replay = std::getenv("LINKSET_SEED");
    const unsigned seed = replay ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10)) : std::random_device{}();
    std::printf("seed %u (LINKSET_SEED=%u replays this run)\n", seed, seed);
    MadeUp made(seed);
    CLinkSetManager manager(CLinkSetManager::Start::WithoutMaintenanceThread);
    ManagerProbe probe(manager);
    size_t adapters = 0;
    for (int i = 0; i < kMachines && !HasFailure(); ++i) {
        const Machine machine = made.MakeMachine();
        adapters += machine.ipHelper.adapters.size();
        const MachineScope scope(machine);
        probe.Tick(1);  // both passes
        SCOPED_TRACE("machine " + std::to_string(i) + " of seed " + std::to_string(seed));
        CheckPorts(machine, Ports(manager));
    }
    std::printf("%d machines, %zu adapters\n", kMachines, adapters);
}

}  // namespace
