// The port record handed to hosts: 6054 bytes, packed, little-endian.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Every IPv4 address and mask is a 32-bit value in network order (the first dotted number in
// the lowest-addressed byte, as inet_addr gives it); 0 means "no address".
#define PORT_INFO_MAX_ADDRESSES 200

enum PORT_TYPE : uint32_t {
    PORT_TYPE_OTHER = 0,
    PORT_TYPE_ETHERNET = 1,
    PORT_TYPE_DIALUP = 2,
    PORT_TYPE_TOKENRING = 5,
    PORT_TYPE_WIRELESS = 6,
    PORT_TYPE_CISCO_VPN = 7,
    PORT_TYPE_IEEE1394 = 8,
};

// Filters of ILinkSetManager::GetPorts; any other value passes every record.
enum PORT_FILTER : int32_t {
    PORT_FILTER_ALL = 0,
    PORT_FILTER_HAS_ADDRESS = 1,
    PORT_FILTER_HAS_GATEWAY = 2,
};

#pragma pack(push, 1)

struct PORT_ADDRESS {
    uint32_t Address;
    uint32_t Mask;  // 0 in the DNS and WINS lists
};

struct PORT_INFO {
    uint32_t PortType;  // a PORT_TYPE value
    char ConnectionName[260];
    char Description[132];
    uint32_t IsDialUp;
    unsigned char Reserved400[520];
    uint32_t IpAddress;
    uint32_t IpMask;
    uint32_t Gateway;
    unsigned char MacAddress[6];
    char AdapterName[256];
    uint32_t DhcpEnabled;
    uint32_t HasIpAddress;
    uint32_t HasGateway;
    uint32_t IsVpnDevice;
    uint32_t DhcpServer;
    unsigned char Reserved1214[28];  // never written by the library's copy
    uint32_t IpAddressCount;
    PORT_ADDRESS IpAddresses[PORT_INFO_MAX_ADDRESSES];
    uint32_t DnsServerCount;
    PORT_ADDRESS DnsServers[PORT_INFO_MAX_ADDRESSES];
    uint32_t WinsServerCount;
    PORT_ADDRESS WinsServers[PORT_INFO_MAX_ADDRESSES];
};

#pragma pack(pop)

static_assert(sizeof(PORT_ADDRESS) == 8, "PORT_ADDRESS is 8 bytes");
static_assert(offsetof(PORT_ADDRESS, Address) == 0, "PORT_ADDRESS::Address");
static_assert(offsetof(PORT_ADDRESS, Mask) == 4, "PORT_ADDRESS::Mask");

static_assert(sizeof(PORT_INFO) == 6054, "PORT_INFO is 6054 bytes");
static_assert(offsetof(PORT_INFO, PortType) == 0, "PORT_INFO::PortType");
static_assert(offsetof(PORT_INFO, ConnectionName) == 4, "PORT_INFO::ConnectionName");
static_assert(offsetof(PORT_INFO, Description) == 264, "PORT_INFO::Description");
static_assert(offsetof(PORT_INFO, IsDialUp) == 396, "PORT_INFO::IsDialUp");
static_assert(offsetof(PORT_INFO, Reserved400) == 400, "PORT_INFO::Reserved400");
static_assert(offsetof(PORT_INFO, IpAddress) == 920, "PORT_INFO::IpAddress");
static_assert(offsetof(PORT_INFO, IpMask) == 924, "PORT_INFO::IpMask");
static_assert(offsetof(PORT_INFO, Gateway) == 928, "PORT_INFO::Gateway");
static_assert(offsetof(PORT_INFO, MacAddress) == 932, "PORT_INFO::MacAddress");
static_assert(offsetof(PORT_INFO, AdapterName) == 938, "PORT_INFO::AdapterName");
static_assert(offsetof(PORT_INFO, DhcpEnabled) == 1194, "PORT_INFO::DhcpEnabled");
static_assert(offsetof(PORT_INFO, HasIpAddress) == 1198, "PORT_INFO::HasIpAddress");
static_assert(offsetof(PORT_INFO, HasGateway) == 1202, "PORT_INFO::HasGateway");
static_assert(offsetof(PORT_INFO, IsVpnDevice) == 1206, "PORT_INFO::IsVpnDevice");
static_assert(offsetof(PORT_INFO, DhcpServer) == 1210, "PORT_INFO::DhcpServer");
static_assert(offsetof(PORT_INFO, Reserved1214) == 1214, "PORT_INFO::Reserved1214");
static_assert(offsetof(PORT_INFO, IpAddressCount) == 1242, "PORT_INFO::IpAddressCount");
static_assert(offsetof(PORT_INFO, IpAddresses) == 1246, "PORT_INFO::IpAddresses");
static_assert(offsetof(PORT_INFO, DnsServerCount) == 2846, "PORT_INFO::DnsServerCount");
static_assert(offsetof(PORT_INFO, DnsServers) == 2850, "PORT_INFO::DnsServers");
static_assert(offsetof(PORT_INFO, WinsServerCount) == 4450, "PORT_INFO::WinsServerCount");
static_assert(offsetof(PORT_INFO, WinsServers) == 4454, "PORT_INFO::WinsServers");
