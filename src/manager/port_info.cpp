#include "manager/port_info.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// Copies the bytes of the fields from offset `begin` up to `end`; the record is packed, so a
// run of fields has no gaps.
void CopyFieldRun(PORT_INFO& destination, const PORT_INFO& source, size_t begin, size_t end) {
    std::memcpy(reinterpret_cast<char*>(&destination) + begin,
                reinterpret_cast<const char*>(&source) + begin, end - begin);
}

// Copies the used part of one address list and answers the capped count; elements behind it
// are left as the destination held them.
uint32_t CopyAddressList(PORT_ADDRESS* destination, uint32_t sourceCount, const PORT_ADDRESS* source) {
    const uint32_t count = std::min<uint32_t>(sourceCount, PORT_INFO_MAX_ADDRESSES);
    std::memcpy(destination, source, count * sizeof(PORT_ADDRESS));
    return count;
}

}  // namespace

PORT_INFO& CopyPortInfo(PORT_INFO& destination, const PORT_INFO& source) {
    if (&destination == &source) return destination;
    // PortType to the end of the 520 reserved bytes, then IpAddress to DhcpServer: the 28
    // reserved bytes at 1214 are skipped.
    CopyFieldRun(destination, source, offsetof(PORT_INFO, PortType), offsetof(PORT_INFO, IpAddress));
    CopyFieldRun(destination, source, offsetof(PORT_INFO, IpAddress), offsetof(PORT_INFO, Reserved1214));
    destination.IpAddressCount =
        CopyAddressList(destination.IpAddresses, source.IpAddressCount, source.IpAddresses);
    destination.DnsServerCount =
        CopyAddressList(destination.DnsServers, source.DnsServerCount, source.DnsServers);
    destination.WinsServerCount =
        CopyAddressList(destination.WinsServers, source.WinsServerCount, source.WinsServers);
    return destination;
}
