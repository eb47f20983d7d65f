#include <gtest/gtest.h>

#include <cstring>

#include "manager/adapter_discovery.h"

namespace {

TEST(ParseDottedAddress, GivesNetworkOrderAndRefusesIncompleteText) {
    const uint32_t address = ParseDottedAddress("10.0.0.1");
    unsigned char bytes[4];
    std::memcpy(bytes, &address, 4);
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[3], 0x01);

    EXPECT_EQ(ParseDottedAddress("10.0.0"), 0u);
    EXPECT_EQ(ParseDottedAddress("1.2.3.65535"), 0u);  // looks unscanned
    EXPECT_EQ(ParseDottedAddress("1.2.3.260") >> 24, 4u);  // each part modulo 256
    EXPECT_EQ(ParseDottedAddress(""), 0u);
    EXPECT_EQ(ParseDottedAddress(nullptr), 0u);
    EXPECT_EQ(ParseDottedAddress("0.0.0.0"), 0u);
}

TEST(IsWirelessLinkSpeed, KnowsThe80211RatesOnly) {
    MIB_IFROW row = {};
    for (DWORD rate : {1000000ul, 11000000ul, 54000000ul, 300000000ul}) {
        row.dwSpeed = rate;
        EXPECT_TRUE(IsWirelessLinkSpeed(row)) << rate;
    }
    for (DWORD rate : {0ul, 10000000ul, 100000000ul, 1000000000ul}) {
        row.dwSpeed = rate;
        EXPECT_FALSE(IsWirelessLinkSpeed(row)) << rate;
    }
}

// A chain of IP_ADDR_STRING entries built from texts.
struct Chain {
    explicit Chain(std::initializer_list<const char*> texts) : entries(texts.size()) {
        size_t i = 0;
        for (const char* text : texts) {
            std::strncpy(entries[i].IpAddress.String, text, sizeof entries[i].IpAddress.String - 1);
            entries[i].Next = i + 1 < entries.size() ? &entries[i + 1] : nullptr;
            ++i;
        }
    }
    const IP_ADDR_STRING* first() const { return entries.data(); }
    std::vector<IP_ADDR_STRING> entries;
};

TEST(AddWinsServers, SkipsUnsetServersAndStopsAtTheCapacity) {
    PORT_INFO port = {};
    EXPECT_EQ(AddWinsServers(port, 0, nullptr), -1);

    // An unset primary contributes nothing, not even the entries behind it in its chain...
    const Chain unsetPrimary{"0.0.0.0", "10.0.0.7"};
    EXPECT_EQ(AddWinsServers(port, 0, unsetPrimary.first()), 0);
    // ...while a valid secondary still lands at position 0.
    const Chain secondary{"10.0.0.9", "", "0.1.2.3", "10.0.0.10"};
    EXPECT_EQ(AddWinsServers(port, 0, secondary.first()), 2);
    EXPECT_EQ(port.WinsServerCount, 2u);
    EXPECT_EQ(port.WinsServers[0].Address, ParseDottedAddress("10.0.0.9"));
    EXPECT_EQ(port.WinsServers[1].Address, ParseDottedAddress("10.0.0.10"));
    EXPECT_EQ(port.WinsServers[1].Mask, 0u);

    PORT_INFO full = {};
    full.WinsServerCount = PORT_INFO_MAX_ADDRESSES;
    EXPECT_EQ(AddWinsServers(full, PORT_INFO_MAX_ADDRESSES, secondary.first()), PORT_INFO_MAX_ADDRESSES);
    EXPECT_EQ(full.WinsServerCount, static_cast<uint32_t>(PORT_INFO_MAX_ADDRESSES));
}

}  // namespace
