#include <gtest/gtest.h>

#include <cstring>

#include "manager/port_info.h"

namespace {

PORT_INFO Filled(unsigned char pattern) {
    PORT_INFO record;
    std::memset(&record, pattern, sizeof record);
    return record;
}

bool AllBytesAre(const void* begin, size_t size, unsigned char value) {
    const auto* bytes = static_cast<const unsigned char*>(begin);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != value) return false;
    return true;
}

TEST(PortInfoCopy, CopiesEveryFieldButTheReservedBytesAtOffset1214) {
    PORT_INFO source = Filled(0x11);
    source.IpAddressCount = source.DnsServerCount = source.WinsServerCount = PORT_INFO_MAX_ADDRESSES;
    PORT_INFO destination = Filled(0xEE);

    CopyPortInfo(destination, source);

    const auto* bytes = reinterpret_cast<const unsigned char*>(&destination);
    EXPECT_TRUE(AllBytesAre(bytes, offsetof(PORT_INFO, Reserved1214), 0x11));  // includes the 520 reserved bytes
    EXPECT_TRUE(AllBytesAre(destination.Reserved1214, sizeof destination.Reserved1214, 0xEE));
    EXPECT_EQ(std::memcmp(destination.IpAddresses, source.IpAddresses, sizeof source.IpAddresses), 0);
    EXPECT_EQ(std::memcmp(destination.WinsServers, source.WinsServers, sizeof source.WinsServers), 0);
}

TEST(PortInfoCopy, CapsCountsAndLeavesElementsBehindThemAlone) {
    PORT_INFO source = Filled(0x22);
    source.IpAddressCount = 0x22222222;  // above the capacity
    source.DnsServerCount = 0;
    source.WinsServerCount = 2;
    PORT_INFO destination = Filled(0xEE);

    CopyPortInfo(destination, source);

    EXPECT_EQ(destination.IpAddressCount, 200u);
    EXPECT_TRUE(AllBytesAre(destination.IpAddresses, sizeof destination.IpAddresses, 0x22));
    EXPECT_EQ(destination.DnsServerCount, 0u);
    EXPECT_TRUE(AllBytesAre(destination.DnsServers, sizeof destination.DnsServers, 0xEE));
    EXPECT_EQ(destination.WinsServerCount, 2u);
    EXPECT_TRUE(AllBytesAre(destination.WinsServers, 2 * sizeof(PORT_ADDRESS), 0x22));
    EXPECT_TRUE(AllBytesAre(destination.WinsServers + 2, 198 * sizeof(PORT_ADDRESS), 0xEE));
}

TEST(PortInfoCopy, OntoItselfChangesNothing) {
    PORT_INFO record = Filled(0x33);
    record.IpAddressCount = 500;  // not capped either: nothing is written at all
    const PORT_INFO before = record;
    CopyPortInfo(record, record);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
}

}  // namespace
