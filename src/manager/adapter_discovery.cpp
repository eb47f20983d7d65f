#include "manager/adapter_discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "manager/dialup_discovery.h"
#include "sources/adapter_registry.h"
#include "sources/ip_helper.h"
#include "sources/wlan.h"
#include "system/handles.h"
#include "system/system_facts.h"

namespace {

// IP Helper adapter types and the port type each gives; every other type is "other".
struct AdapterTypeRule {
    UINT adapterType;
    uint32_t portType;
};
constexpr AdapterTypeRule kAdapterTypeRules[] = {
    {MIB_IF_TYPE_ETHERNET, PORT_TYPE_ETHERNET},
    {MIB_IF_TYPE_TOKENRING, PORT_TYPE_TOKENRING},
    {MIB_IF_TYPE_PPP, PORT_TYPE_DIALUP},
    {IF_TYPE_IEEE1394, PORT_TYPE_IEEE1394},
};

// The 802.11 rates from 1 to 300 Mbit/s, in bits per second.
constexpr DWORD kWirelessRates[] = {1000000,  2000000,  5500000,   11000000,  6000000,   9000000,   12000000,
                                    18000000, 22000000, 24000000,  33000000,  36000000,  48000000,  54000000,
                                    104000000, 108000000, 117000000, 130000000, 144000000, 270000000, 300000000};

constexpr const char* kCiscoMarker = "Cisco";
constexpr long kUnscanned = 65535;  // also refuses an address that really holds 65535
constexpr int kDottedParts = 4;

template <size_t N>
void CopyField(char (&field)[N], const char* text) {
    // The field keeps what fits and its terminator; a double-byte character is never split.
    CopyStringBounded(field, text, N);
}

uint32_t PortTypeOfAdapter(UINT adapterType) {
    for (const AdapterTypeRule& rule : kAdapterTypeRules)
        if (rule.adapterType == adapterType) return rule.portType;
    return PORT_TYPE_OTHER;
}

void FillAddresses(PORT_INFO& port, const IP_ADDR_STRING& first) {
    uint32_t count = 0;
    for (const IP_ADDR_STRING* entry = &first; entry != nullptr && count < PORT_INFO_MAX_ADDRESSES;
         entry = entry->Next) {
        port.IpAddresses[count].Address = ParseDottedAddress(entry->IpAddress.String);
        port.IpAddresses[count].Mask = ParseDottedAddress(entry->IpMask.String);
        ++count;
    }
    port.IpAddressCount = count;
}

void FillWinsServers(PORT_INFO& port, const IP_ADAPTER_INFO& adapter) {
    port.WinsServerCount = 0;
    if (!adapter.HaveWins) return;
    const int index = AddWinsServers(port, 0, &adapter.PrimaryWinsServer);
    AddWinsServers(port, index, &adapter.SecondaryWinsServer);
}

void FillDnsServers(CIpHelperAPI& ipHelper, PORT_INFO& port, DWORD adapterIndex) {
    port.DnsServerCount = 0;
    ULONG size = 0;
    if (ipHelper.GetPerAdapterInfo(adapterIndex, nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return;
    UniqueHeapBlock buffer = HeapAllocZeroed(size);
    if (!buffer) return;
    auto* info = static_cast<IP_PER_ADAPTER_INFO*>(buffer.get());
    if (ipHelper.GetPerAdapterInfo(adapterIndex, info, &size) != NO_ERROR) return;
    for (const IP_ADDR_STRING* entry = &info->DnsServerList;
         entry != nullptr && port.DnsServerCount < PORT_INFO_MAX_ADDRESSES; entry = entry->Next) {
        if (entry->IpAddress.String[0] == '\0') continue;
        port.DnsServers[port.DnsServerCount].Address = ParseDottedAddress(entry->IpAddress.String);
        port.DnsServers[port.DnsServerCount].Mask = 0;
        ++port.DnsServerCount;
    }
}

const MIB_IFROW* FindInterfaceRow(const MIB_IFTABLE& interfaces, DWORD adapterIndex) {
    const MIB_IFROW* end = interfaces.table + interfaces.dwNumEntries;
    const MIB_IFROW* row =
        std::find_if(interfaces.table, end, [adapterIndex](const MIB_IFROW& r) { return r.dwIndex == adapterIndex; });
    return row == end ? nullptr : row;
}

// The wireless LAN service knows best; without it, an 802.11 link speed gives it away.
bool IsWireless(const PORT_INFO& port, const IP_ADAPTER_INFO& adapter, const MIB_IFTABLE& interfaces) {
    if (CWlanAPI* wlan = GetWlanAPI()) return wlan->IsWirelessAdapter(port.AdapterName) == 1;
    const MIB_IFROW* row = FindInterfaceRow(interfaces, adapter.Index);
    return row != nullptr && IsWirelessLinkSpeed(*row);
}

// Asks with no buffer for the size (`tooSmall` is the answer that gives one), then for the data.
template <class Call>
UniqueHeapBlock ReadTable(Call call, int tooSmall) {
    ULONG size = 0;
    if (call(nullptr, &size) != tooSmall || size == 0) return {};
    UniqueHeapBlock buffer = HeapAllocZeroed(size);
    if (!buffer || call(buffer.get(), &size) != NO_ERROR || size == 0) return {};
    return buffer;
}

}  // namespace

namespace {

// The text nearly every adapter gives, four groups of one to three digits and nothing else, read
// directly: scanf would give the same, at many times the cost. Anything else (signs, spaces,
// longer groups, trailing text) is left to the scanf rule.
bool ParsePlainDottedAddress(const char* text, uint32_t& address) {
    uint32_t parsed = 0;
    for (int part = 0; part < kDottedParts; ++part) {
        uint32_t value = 0;
        int digits = 0;
        for (; digits < 3 && *text >= '0' && *text <= '9'; ++digits) value = value * 10 + static_cast<uint32_t>(*text++ - '0');
        if (digits == 0 || *text != (part + 1 < kDottedParts ? '.' : '\0')) return false;
        ++text;
        parsed |= (value & 0xFF) << (8 * part);
    }
    address = parsed;
    return true;
}

}  // namespace

uint32_t ParseDottedAddress(const char* text) {
    uint32_t plain = 0;
    if (text != nullptr && ParsePlainDottedAddress(text, plain)) return plain;
    long parts[kDottedParts] = {kUnscanned, kUnscanned, kUnscanned, kUnscanned};
    if (text != nullptr) std::sscanf(text, "%ld.%ld.%ld.%ld", &parts[0], &parts[1], &parts[2], &parts[3]);
    if (std::find(std::begin(parts), std::end(parts), kUnscanned) != std::end(parts)) return 0;
    uint32_t address = 0;
    for (int i = kDottedParts - 1; i >= 0; --i) address = (address << 8) | (static_cast<uint32_t>(parts[i]) & 0xFF);
    return address;
}

bool IsWirelessLinkSpeed(const MIB_IFROW& row) {
    return std::find(std::begin(kWirelessRates), std::end(kWirelessRates), row.dwSpeed) != std::end(kWirelessRates);
}

int AddWinsServers(PORT_INFO& port, int index, const IP_ADDR_STRING* servers) {
    if (servers == nullptr) return -1;
    auto usable = [](const IP_ADDR_STRING& entry) {
        return entry.IpAddress.String[0] != '\0' && entry.IpAddress.String[0] != '0';
    };
    // A primary server that is unset ("0.0.0.0" or empty) means the chain holds nothing.
    if (!usable(*servers) || index >= PORT_INFO_MAX_ADDRESSES) return index;
    for (const IP_ADDR_STRING* entry = servers; entry != nullptr && index < PORT_INFO_MAX_ADDRESSES;
         entry = entry->Next) {
        if (!usable(*entry)) continue;
        port.WinsServers[index].Address = ParseDottedAddress(entry->IpAddress.String);
        port.WinsServers[index].Mask = 0;
        ++index;
        ++port.WinsServerCount;
    }
    return index;
}

void FillAdapterPort(CIpHelperAPI& ipHelper, PORT_INFO& port, const IP_ADAPTER_INFO& adapter,
                     const MIB_IFTABLE& interfaces) {
    CopyField(port.AdapterName, adapter.AdapterName);
    CopyField(port.Description, adapter.Description);

    port.PortType = PortTypeOfAdapter(adapter.Type);
    port.IsDialUp = port.PortType == PORT_TYPE_DIALUP ? 1 : 0;

    if (LookupConnectionName(port.AdapterName, port.ConnectionName, sizeof port.ConnectionName) != 0)
        CopyField(port.ConnectionName, adapter.AdapterName);
    // Before Vista, IP Helper's descriptions are terse; the registry has the names users know.
    if (!IsVistaOrLater()) LookupAdapterDescription(port.AdapterName, port.Description);

    if (port.PortType == PORT_TYPE_ETHERNET && std::strstr(port.Description, kCiscoMarker) != nullptr)
        port.PortType = PORT_TYPE_CISCO_VPN;

    port.IpAddress = ParseDottedAddress(adapter.IpAddressList.IpAddress.String);
    FillAddresses(port, adapter.IpAddressList);
    port.IpMask = ParseDottedAddress(adapter.IpAddressList.IpMask.String);
    port.Gateway = ParseDottedAddress(adapter.GatewayList.IpAddress.String);

    std::memcpy(port.MacAddress, adapter.Address, std::min<size_t>(adapter.AddressLength, sizeof port.MacAddress));

    port.DhcpEnabled = adapter.DhcpEnabled;
    if (port.DhcpEnabled != 0) port.DhcpServer = ParseDottedAddress(adapter.DhcpServer.IpAddress.String);

    FillWinsServers(port, adapter);
    FillDnsServers(ipHelper, port, adapter.Index);

    port.HasIpAddress = port.IpAddress != 0 ? 1 : 0;
    port.HasGateway = port.Gateway != 0 ? 1 : 0;

    // Last, and over every other type: a wireless adapter is a wireless port.
    if (IsWireless(port, adapter, interfaces)) port.PortType = PORT_TYPE_WIRELESS;
}

AdapterPass DiscoverAdapters(CIpHelperAPI& ipHelper, RasConnLayout layout) {
    AdapterPass pass;
    UniqueHeapBlock adapters = ReadTable(
        [&](void* buffer, ULONG* size) { return ipHelper.GetAdaptersInfo(static_cast<IP_ADAPTER_INFO*>(buffer), size); },
        ERROR_BUFFER_OVERFLOW);
    if (!adapters) return pass;
    UniqueHeapBlock interfaces = ReadTable(
        [&](void* buffer, ULONG* size) { return ipHelper.GetIfTable(static_cast<MIB_IFTABLE*>(buffer), size); },
        ERROR_INSUFFICIENT_BUFFER);
    if (!interfaces) return pass;

    bool sawDialUp = false;
    for (auto* adapter = static_cast<const IP_ADAPTER_INFO*>(adapters.get()); adapter != nullptr;
         adapter = adapter->Next) {
        PORT_INFO port = {};
        FillAdapterPort(ipHelper, port, *adapter, *static_cast<const MIB_IFTABLE*>(interfaces.get()));
        AddPort(pass.ports, port);
        sawDialUp = sawDialUp || port.PortType == PORT_TYPE_DIALUP;
        pass.signature += port.IpAddress;
    }
    if (sawDialUp) MarkVpnConnections(pass.ports, layout);
    return pass;
}

bool MergeAdapterPorts(PortList& ports, uint32_t& addressSum, AdapterPass&& pass) {
    PurgePorts(ports, PurgeMode::KeepPhoneBookEntries);
    const bool changed = pass.signature != addressSum;
    addressSum = pass.signature;
    while (!pass.ports.empty()) {
        auto next = pass.ports.begin();
        const auto position = (*next)->IsDialUp != 0 ? ports.begin() : ports.end();
        ports.splice(position, pass.ports, next);
    }
    return changed;
}
