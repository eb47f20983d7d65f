#include <gtest/gtest.h>

#include <cstring>

#include "manager/adapter_discovery.h"

namespace {

TEST(ParseDottedAddress, GivesNetworkOrderAndRefusesIncompleteText) {
    const uint32_t address = ParseDottedAddress("10.0.0.1");
    EXPECT_EQ(std::memcmp(&address, "\x0A\x00\x00\x01", 4), 0);
    EXPECT_EQ(ParseDottedAddress("1.2.3.260") >> 24, 4u);  // each part modulo 256
    for (const char* refused : {"10.0.0", "1.2.3.65535", "", "0.0.0.0"}) EXPECT_EQ(ParseDottedAddress(refused), 0u) << refused;
    EXPECT_EQ(ParseDottedAddress(nullptr), 0u);
}

TEST(AddWinsServers, AnswersMinusOneForNoChainAndStopsAtTheCapacity) {
    IP_ADDR_STRING server = {};
    std::strcpy(server.IpAddress.String, "10.0.0.9");
    PORT_INFO port = {};
    EXPECT_EQ(AddWinsServers(port, 0, nullptr), -1);
    port.WinsServerCount = PORT_INFO_MAX_ADDRESSES;
    EXPECT_EQ(AddWinsServers(port, PORT_INFO_MAX_ADDRESSES, &server), PORT_INFO_MAX_ADDRESSES);
    EXPECT_EQ(port.WinsServerCount, static_cast<uint32_t>(PORT_INFO_MAX_ADDRESSES));
}

}  // namespace
