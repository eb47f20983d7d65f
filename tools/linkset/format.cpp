#include "format.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace {

struct PortTypeInfo {
    uint32_t code;
    const char* name;
};
constexpr PortTypeInfo kPortTypes[] = {
    {PORT_TYPE_OTHER, "other"},         {PORT_TYPE_ETHERNET, "ethernet"}, {PORT_TYPE_DIALUP, "dial-up"},
    {PORT_TYPE_TOKENRING, "token-ring"}, {PORT_TYPE_WIRELESS, "wireless"}, {PORT_TYPE_CISCO_VPN, "cisco-vpn"},
    {PORT_TYPE_IEEE1394, "ieee1394"},
};

// Record texts are in the system code page; the terminal and JSON want UTF-8.
std::string Utf8(const char* ansi, size_t capacity) {
    const int length = static_cast<int>(strnlen(ansi, capacity));
    if (length == 0) return {};
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, ansi, length, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, length, wide.data(), static_cast<int>(wide.size()));
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    return utf8;
}
template <size_t N>
std::string Utf8(const char (&field)[N]) {
    return Utf8(field, N);
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string JsonAddressOrNull(uint32_t address) { return address ? JsonString(FormatAddress(address)) : "null"; }

template <class Item, class Render>
std::string Join(const std::vector<Item>& items, const char* separator, Render render) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + render(items[i]);
    return out;
}

std::vector<uint32_t> ServerList(const PORT_ADDRESS* servers, uint32_t count) {
    std::vector<uint32_t> addresses;
    for (uint32_t i = 0; i < count && i < PORT_INFO_MAX_ADDRESSES; ++i) addresses.push_back(servers[i].Address);
    return addresses;
}

std::vector<PORT_ADDRESS> AddressList(const PORT_INFO& port) {
    const uint32_t count = port.IpAddressCount < PORT_INFO_MAX_ADDRESSES ? port.IpAddressCount : PORT_INFO_MAX_ADDRESSES;
    return std::vector<PORT_ADDRESS>(port.IpAddresses, port.IpAddresses + count);
}

std::string AddressesText(const std::vector<uint32_t>& addresses) {
    return addresses.empty() ? "-" : Join(addresses, ", ", FormatAddress);
}

std::string Flags(const PORT_INFO& port) {
    std::string flags;
    if (port.IsDialUp) flags += "dial-up";
    if (port.IsVpnDevice) flags += flags.empty() ? "vpn device" : ", vpn device";
    return flags.empty() ? "-" : flags;
}

void Field(std::string& out, const char* name, const std::string& value) {
    char head[24];
    std::snprintf(head, sizeof head, "  %-13s", name);
    out += head + value + "\n";
}

std::string PortKey(const PORT_INFO& port) { return Utf8(port.AdapterName) + "|" + Utf8(port.ConnectionName); }

std::string PortSummary(const PORT_INFO& port) {
    return std::string(PortTypeName(port.PortType)) + " \"" + Utf8(port.ConnectionName) + "\" " +
           (port.HasIpAddress ? FormatAddress(port.IpAddress) : "(no address)");
}

}  // namespace

std::string FormatAddress(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF,
                  address >> 24);
    return text;
}

std::string FormatMac(const PORT_INFO& port) {
    char text[18];
    const unsigned char* m = port.MacAddress;
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

const char* PortTypeName(uint32_t portType) {
    for (const PortTypeInfo& type : kPortTypes)
        if (type.code == portType) return type.name;
    return "unknown";
}

std::string PortsAsText(const std::vector<PORT_INFO>& ports) {
    if (ports.empty()) return "no ports\n";
    std::string out;
    for (const PORT_INFO& port : ports) {
        out += std::string(PortTypeName(port.PortType)) + "  \"" + Utf8(port.ConnectionName) + "\"\n";
        Field(out, "description", Utf8(port.Description).empty() ? "-" : Utf8(port.Description));
        Field(out, "adapter", Utf8(port.AdapterName));
        Field(out, "addresses", Join(AddressList(port), ", ", [](const PORT_ADDRESS& a) {
                  return FormatAddress(a.Address) + "/" + FormatAddress(a.Mask);
              }) + (port.IpAddressCount == 0 ? "-" : ""));
        Field(out, "gateway", port.HasGateway ? FormatAddress(port.Gateway) : "-");
        Field(out, "mac", FormatMac(port));
        Field(out, "dhcp", !port.DhcpEnabled ? "off" : port.DhcpServer ? "on, server " + FormatAddress(port.DhcpServer) : "on");
        Field(out, "dns", AddressesText(ServerList(port.DnsServers, port.DnsServerCount)));
        Field(out, "wins", AddressesText(ServerList(port.WinsServers, port.WinsServerCount)));
        Field(out, "flags", Flags(port));
        out += "\n";
    }
    return out;
}

std::string PortsAsJson(const std::vector<PORT_INFO>& ports) {
    auto addressArray = [](const std::vector<uint32_t>& list) {
        return "[" + Join(list, ",", [](uint32_t a) { return JsonString(FormatAddress(a)); }) + "]";
    };
    std::string out = "{\"ports\":[";
    for (size_t i = 0; i < ports.size(); ++i) {
        const PORT_INFO& p = ports[i];
        out += i ? "," : "";
        out += "{\"type\":" + JsonString(PortTypeName(p.PortType)) + ",\"typeCode\":" + std::to_string(p.PortType) +
               ",\"connectionName\":" + JsonString(Utf8(p.ConnectionName)) +
               ",\"description\":" + JsonString(Utf8(p.Description)) +
               ",\"adapterName\":" + JsonString(Utf8(p.AdapterName)) + ",\"mac\":" + JsonString(FormatMac(p)) +
               ",\"address\":" + JsonAddressOrNull(p.IpAddress) + ",\"mask\":" + JsonAddressOrNull(p.IpMask) +
               ",\"addresses\":[" + Join(AddressList(p), ",", [](const PORT_ADDRESS& a) {
                   return "{\"address\":" + JsonString(FormatAddress(a.Address)) +
                          ",\"mask\":" + JsonString(FormatAddress(a.Mask)) + "}";
               }) + "]" +
               ",\"gateway\":" + JsonAddressOrNull(p.Gateway) +
               ",\"dhcp\":{\"enabled\":" + (p.DhcpEnabled ? "true" : "false") +
               ",\"server\":" + JsonAddressOrNull(p.DhcpServer) + "}" +
               ",\"dns\":" + addressArray(ServerList(p.DnsServers, p.DnsServerCount)) +
               ",\"wins\":" + addressArray(ServerList(p.WinsServers, p.WinsServerCount)) +
               ",\"dialUp\":" + (p.IsDialUp ? "true" : "false") + ",\"vpnDevice\":" + (p.IsVpnDevice ? "true" : "false") +
               "}";
    }
    return out + "]}\n";
}

std::string AddressesAsText(const AddressLists& lists) {
    std::string out;
    Field(out, "gateways", AddressesText(lists.gateways));
    Field(out, "dns", AddressesText(lists.dnsServers));
    Field(out, "wins", AddressesText(lists.winsServers));
    return out;
}

std::string AddressesAsJson(const AddressLists& lists) {
    auto array = [](const std::vector<uint32_t>& list) {
        return "[" + Join(list, ",", [](uint32_t a) { return JsonString(FormatAddress(a)); }) + "]";
    };
    return "{\"gateways\":" + array(lists.gateways) + ",\"dns\":" + array(lists.dnsServers) +
           ",\"wins\":" + array(lists.winsServers) + "}\n";
}

std::vector<std::string> DescribeChanges(const std::vector<PORT_INFO>& before, const std::vector<PORT_INFO>& after) {
    std::map<std::string, const PORT_INFO*> old, now;
    for (const PORT_INFO& port : before) old[PortKey(port)] = &port;
    for (const PORT_INFO& port : after) now[PortKey(port)] = &port;
    std::vector<std::string> lines;
    for (const auto& [key, port] : old)
        if (!now.count(key)) lines.push_back("- " + PortSummary(*port));
    for (const auto& [key, port] : now) {
        const auto previous = old.find(key);
        if (previous == old.end()) {
            lines.push_back("+ " + PortSummary(*port));
        } else if (std::memcmp(previous->second, port, sizeof(PORT_INFO)) != 0) {
            // Snapshots are copied into zeroed records, so equal ports are equal bytes.
            lines.push_back("~ " + PortSummary(*previous->second) + "  ->  " + PortSummary(*port));
        }
    }
    return lines;
}
