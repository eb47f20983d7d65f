// The manager's queries on a seeded port list, without the maintenance thread, and the dotted-address
// parser every address in the records goes through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
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

// Each filter counts every passing port and copies the first that fit, in list order. That the
// bytes behind the records stay untouched is checked through the DLL (reference host, bad input).
TEST_F(ManagerOps, GetPortsCountsEveryPassingPortAndCopiesWhatFits) {
    probe.SetPorts({MakePort(PORT_TYPE_ETHERNET, "a", Ip("10.0.0.1"), Ip("10.0.0.254")), MakePort(PORT_TYPE_ETHERNET, "b", Ip("10.0.0.2")),
                    MakePort(PORT_TYPE_DIALUP, "c", 0), MakePort(PORT_TYPE_WIRELESS, "d", Ip("10.0.0.4"), Ip("10.0.0.254")),
                    MakePort(PORT_TYPE_ETHERNET, "e", Ip("10.0.0.5"))});
    uint32_t copied = 99, total = 99;
    EXPECT_EQ(manager.GetPorts(nullptr, 0, nullptr, &total, 0), LS_ERROR_FAILED);
    EXPECT_EQ(manager.GetPorts(nullptr, 0, &copied, nullptr, 0), LS_ERROR_FAILED);
    constexpr uint32_t kRecord = sizeof(PORT_INFO);
    const std::tuple<int32_t, uint32_t, uint32_t, uint32_t, std::string> rows[] = {  // filter, bytes, copied, total, 2nd copied
        {PORT_FILTER_ALL, 0, 0, 5, ""}, {7, 2 * kRecord + 100, 2, 5, "b"},  // 7 passes everything
        {PORT_FILTER_HAS_ADDRESS, 3 * kRecord, 3, 4, "b"}, {PORT_FILTER_HAS_GATEWAY, 3 * kRecord, 2, 2, "d"}};
    for (const auto& [filter, bytes, wantCopied, wantTotal, second] : rows) {
        std::vector<PORT_INFO> buffer(3);
        EXPECT_EQ(manager.GetPorts(bytes ? buffer.data() : nullptr, bytes, &copied, &total, filter), LS_OK);
        EXPECT_EQ(std::tuple(copied, total, std::string(buffer[1].ConnectionName)), std::tuple(wantCopied, wantTotal, second)) << filter;
    }
}

TEST_F(ManagerOps, AddressQueriesAlwaysTellTheNumberNeededOfTheFirst32AddressedPorts) {
    const auto withServers = [](PORT_INFO port, std::vector<const char*> dns, std::vector<const char*> wins) {
        for (const char* address : dns) port.DnsServers[port.DnsServerCount++].Address = Ip(address);
        for (const char* address : wins) port.WinsServers[port.WinsServerCount++].Address = Ip(address);
        return port;
    };
    probe.SetPorts({withServers(MakePort(PORT_TYPE_ETHERNET, "a", Ip("10.0.0.1"), Ip("10.0.0.254")), {"8.8.8.8", "8.8.4.4"}, {"10.0.0.9"}),
                    MakePort(PORT_TYPE_DIALUP, "entry", 0), withServers(MakePort(PORT_TYPE_ETHERNET, "b", Ip("10.0.0.2")), {"1.1.1.1"}, {})});
    uint32_t count = 99, gateways[2] = {}, dns[3] = {}, wins[1] = {};
    EXPECT_EQ(manager.GetGateways(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);  // addressed ports only; a missing gateway still counts as a 0
    EXPECT_EQ(manager.GetGateways(gateways, 7, &count), LS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(manager.GetGateways(gateways, sizeof gateways, &count), LS_OK);
    EXPECT_EQ(std::vector<uint32_t>(gateways, gateways + 2), (std::vector<uint32_t>{Ip("10.0.0.254"), 0}));
    EXPECT_EQ(manager.GetDnsServers(dns, sizeof dns, &count), LS_OK);
    EXPECT_EQ(std::tuple(count, dns[2]), std::tuple(3u, Ip("1.1.1.1")));
    EXPECT_EQ(manager.GetWinsServers(wins, sizeof wins, &count), LS_OK);
    EXPECT_EQ(wins[0], Ip("10.0.0.9"));

    // No servers at all: a real array succeeds with 0, a null one is still too small.
    probe.SetPorts({MakePort(PORT_TYPE_ETHERNET, "bare", Ip("10.0.0.3"))});
    EXPECT_EQ(manager.GetWinsServers(wins, sizeof wins, &count), LS_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(manager.GetWinsServers(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);

    std::vector<PORT_INFO> many;
    for (uint32_t i = 0; i < 40; ++i) many.push_back(MakePort(PORT_TYPE_ETHERNET, "p", i + 1, 0x01010101));
    probe.SetPorts(many);
    EXPECT_EQ(manager.GetGateways(nullptr, 0, &count), LS_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 32u);
}

// Plain text is read without scanf, yet every text must read as scanf's "%ld.%ld.%ld.%ld" does:
// each part modulo 256 in network order, and 0 for a part of 65535 or a missing one.
TEST(ParseDottedAddress, ReadsEveryTextAsScanfDoes) {
    const auto byScanf = [](const char* text) {
        long p[4] = {65535, 65535, 65535, 65535};
        std::sscanf(text, "%ld.%ld.%ld.%ld", &p[0], &p[1], &p[2], &p[3]);
        if (std::count(p, p + 4, 65535L) != 0) return 0u;
        uint32_t address = 0;
        for (int i = 3; i >= 0; --i) address = (address << 8) | (static_cast<uint32_t>(p[i]) & 0xFF);
        return address;
    };
    EXPECT_EQ(ParseDottedAddress(nullptr), 0u);
    std::vector<std::string> texts = {"192.168.1.20", "001.255.0.10", "999.1.1.1", "1.2.3.4.", "1.2.3.4 ", "1.2.3.1234", " 1.2.3.4",
                                      "-1.2.3.4",     "1.2..4",       "1.2.3",     "1.2.3.65535", ""};
    const char alphabet[] = "0123456789....  +-x";
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        std::string& text = texts.emplace_back(random() % 18, ' ');
        for (char& c : text) c = alphabet[random() % (sizeof alphabet - 1)];
    }
    for (const std::string& text : texts) ASSERT_EQ(ParseDottedAddress(text.c_str()), byScanf(text.c_str())) << '"' << text << '"';
}

}  // namespace
