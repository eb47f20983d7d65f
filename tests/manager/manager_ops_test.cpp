// The manager's operations on a seeded port list, without the maintenance thread.
#include <gtest/gtest.h>

#include <vector>

#include <linkset/linkset.h>

#include "manager/adapter_discovery.h"
#include "manager_harness.h"

namespace {

uint32_t Ip(const char* text) { return ParseDottedAddress(text); }

class ManagerOps : public ::testing::Test {
protected:
    CLinkSetManager manager{CLinkSetManager::Start::WithoutMaintenanceThread};
    ManagerProbe probe{manager};
};

TEST_F(ManagerOps, GetPortsCountsEveryPassingPortAndCopiesWhatFits) {
    probe.SetPorts({MakePort(PORT_TYPE_ETHERNET, "a", Ip("10.0.0.1"), Ip("10.0.0.254")),
                    MakePort(PORT_TYPE_ETHERNET, "b", Ip("10.0.0.2")), MakePort(PORT_TYPE_DIALUP, "c", 0),
                    MakePort(PORT_TYPE_WIRELESS, "d", Ip("10.0.0.4"), Ip("10.0.0.254")),
                    MakePort(PORT_TYPE_ETHERNET, "e", Ip("10.0.0.5"))});
    uint32_t copied = 99, total = 99;
    EXPECT_EQ(manager.GetPorts(nullptr, 0, nullptr, &total, 0), LS_ERROR_FAILED);
    EXPECT_EQ(manager.GetPorts(nullptr, 0, &copied, nullptr, 0), LS_ERROR_FAILED);
    EXPECT_EQ(total, 99u);

    EXPECT_EQ(manager.GetPorts(nullptr, 0, &copied, &total, PORT_FILTER_ALL), LS_OK);
    EXPECT_EQ(copied, 0u);
    EXPECT_EQ(total, 5u);

    // Room for two records and a partial third: the first two in list order, the rest counted.
    // That the reserved bytes and what lies behind the capacity stay untouched is checked
    // through the DLL (the reference host, the contract's guarded buffers).
    std::vector<PORT_INFO> buffer(3);
    EXPECT_EQ(manager.GetPorts(buffer.data(), 2 * sizeof(PORT_INFO) + 100, &copied, &total, 7), LS_OK);
    EXPECT_EQ(copied, 2u);
    EXPECT_EQ(total, 5u);  // a filter of 7 passes everything
    EXPECT_STREQ(buffer[1].ConnectionName, "b");

    EXPECT_EQ(manager.GetPorts(buffer.data(), 3 * sizeof(PORT_INFO), &copied, &total, PORT_FILTER_HAS_ADDRESS), LS_OK);
    EXPECT_EQ(total, 4u);
    EXPECT_EQ(manager.GetPorts(buffer.data(), 3 * sizeof(PORT_INFO), &copied, &total, PORT_FILTER_HAS_GATEWAY), LS_OK);
    EXPECT_EQ(total, 2u);
    EXPECT_STREQ(buffer[1].ConnectionName, "d");
}

TEST_F(ManagerOps, AddressQueriesAlwaysTellTheNumberNeededOfTheFirst32AddressedPorts) {
    // A port with the given DNS and WINS servers.
    const auto withServers = [](PORT_INFO port, std::vector<const char*> dns, std::vector<const char*> wins) {
        for (const char* address : dns) port.DnsServers[port.DnsServerCount++].Address = Ip(address);
        for (const char* address : wins) port.WinsServers[port.WinsServerCount++].Address = Ip(address);
        return port;
    };
    probe.SetPorts({withServers(MakePort(PORT_TYPE_ETHERNET, "a", Ip("10.0.0.1"), Ip("10.0.0.254")), {"8.8.8.8", "8.8.4.4"}, {"10.0.0.9"}),
                    MakePort(PORT_TYPE_DIALUP, "entry", 0),
                    withServers(MakePort(PORT_TYPE_ETHERNET, "b", Ip("10.0.0.2")), {"1.1.1.1"}, {})});

    uint32_t count = 99;
    EXPECT_EQ(manager.GetGateways(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);  // addressed ports only; a missing gateway still counts as a 0
    uint32_t gateways[2] = {};
    EXPECT_EQ(manager.GetGateways(gateways, 7, &count), LS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(manager.GetGateways(gateways, sizeof gateways, &count), LS_OK);
    EXPECT_EQ(gateways[0], Ip("10.0.0.254"));
    EXPECT_EQ(gateways[1], 0u);

    uint32_t dns[3] = {};
    EXPECT_EQ(manager.GetDnsServers(dns, sizeof dns, &count), LS_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(dns[2], Ip("1.1.1.1"));
    uint32_t wins[1] = {};
    EXPECT_EQ(manager.GetWinsServers(wins, sizeof wins, &count), LS_OK);
    EXPECT_EQ(wins[0], Ip("10.0.0.9"));

    // No servers at all: a real array succeeds with 0, a null one is still too small.
    probe.SetPorts({MakePort(PORT_TYPE_ETHERNET, "bare", Ip("10.0.0.3"))});
    EXPECT_EQ(manager.GetWinsServers(wins, sizeof wins, &count), LS_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(manager.GetWinsServers(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);

    // Only the first 32 addressed ports are looked at.
    std::vector<PORT_INFO> many;
    for (uint32_t i = 0; i < 40; ++i) many.push_back(MakePort(PORT_TYPE_ETHERNET, "p", i + 1, 0x01010101));
    probe.SetPorts(many);
    EXPECT_EQ(manager.GetGateways(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 32u);
}

}  // namespace
