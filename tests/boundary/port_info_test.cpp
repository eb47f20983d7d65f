// That GetPorts writes records 6054 bytes apart and leaves the reserved bytes alone is checked
// through the DLL by the reference host; here, what a count beyond the lists' room does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "manager/port_info.h"

namespace {

bool AllBytesAre(const void* begin, size_t size, unsigned char value) {
    const auto* bytes = static_cast<const unsigned char*>(begin);
    return std::all_of(bytes, bytes + size, [value](unsigned char byte) { return byte == value; });
}

TEST(PortInfoCopy, CapsCountsAndLeavesElementsBehindThemAlone) {
    PORT_INFO source, destination;
    std::memset(&source, 0x22, sizeof source);
    std::memset(&destination, 0xEE, sizeof destination);
    source.IpAddressCount = 0x22222222;  // above the capacity
    source.DnsServerCount = 0;
    source.WinsServerCount = 2;

    CopyPortInfo(destination, source);

    EXPECT_EQ(destination.IpAddressCount, 200u);
    EXPECT_TRUE(AllBytesAre(destination.IpAddresses, sizeof destination.IpAddresses, 0x22));
    EXPECT_EQ(destination.DnsServerCount, 0u);
    EXPECT_TRUE(AllBytesAre(destination.DnsServers, sizeof destination.DnsServers, 0xEE));
    EXPECT_EQ(destination.WinsServerCount, 2u);
    EXPECT_TRUE(AllBytesAre(destination.WinsServers, 2 * sizeof(PORT_ADDRESS), 0x22));
    EXPECT_TRUE(AllBytesAre(destination.WinsServers + 2, 198 * sizeof(PORT_ADDRESS), 0xEE));
}

}  // namespace
