// What linkset prints for made-up records: text and JSON agree, and `watch` names what changed;
// and which records the C++ layer takes for tunnels, and whose.
#include <gtest/gtest.h>

#include <cstring>

#include "format.h"

namespace {

using Json = nlohmann::ordered_json;
constexpr uint32_t kMask24 = 0x00FFFFFF;  // 255.255.255.0 in network order

PORT_INFO Port(const char* name, uint32_t type, std::vector<PORT_ADDRESS> addresses, const char* adapter = nullptr,
               const char* description = "") {
    PORT_INFO port = {};
    port.PortType = type;
    port.IsDialUp = type == PORT_TYPE_DIALUP;
    std::strcpy(port.ConnectionName, name);
    std::strcpy(port.AdapterName, adapter ? adapter : name);
    std::strcpy(port.Description, description);
    port.IpAddressCount = static_cast<uint32_t>(addresses.size());
    std::copy(addresses.begin(), addresses.end(), port.IpAddresses);
    port.HasIpAddress = (port.IpAddress = addresses.empty() ? 0 : addresses[0].Address) != 0;
    return port;
}

TEST(PortViews, TextAndJsonShowTheSamePort) {
    const struct {
        const char* name;
        PORT_INFO port;
        std::vector<std::string> lines;  // lines of its text block
        Json json;                       // fields of its JSON object
    } kCases[] = {
        {"mask as a prefix", Port("LAN", PORT_TYPE_ETHERNET, {{0x0202000A, kMask24}}),
         {"ethernet \"LAN\"", "  addresses    10.0.2.2/24"}, {{"address", "10.0.2.2"}}},
        {"odd mask stays dotted", Port("LAN", PORT_TYPE_ETHERNET, {{0x0100000A, 0x00FF00FF}}),
         {"  addresses    10.0.0.1/255.0.255.0"}, {{"addresses", {{{"address", "10.0.0.1"}, {"mask", "255.0.255.0"}}}}}},
        {"an unused 0.0.0.0 entry is no address", Port("LAN", PORT_TYPE_ETHERNET, {{0, 0}}), {"  addresses    -"},
         {{"address", nullptr}, {"addresses", Json::array()}}},
        {"a GUID name gives way to the description", Port("{4D36E972}", PORT_TYPE_WIRELESS, {}, "{4D36E972}", "Wi-Fi"),
         {"wireless \"Wi-Fi\"", "  adapter      {4D36E972}"}, {{"connectionName", "{4D36E972}"}}},
        {"a phone-book entry is a dial-up port not connected", Port("My ISP", PORT_TYPE_DIALUP, {}, "NdisWanIp"),
         {"dial-up \"My ISP\"", "  adapter      NdisWanIp", "  flags        dial-up, not connected"},
         {{"type", "dial-up"}, {"mac", nullptr}, {"dialUp", true}, {"connected", false}}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string text = PortsAsText({c.port});
        for (const std::string& line : c.lines) EXPECT_NE(text.find(line + "\n"), std::string::npos) << text;
        for (const auto& [key, value] : c.json.items()) EXPECT_EQ(PortJson(c.port)[key], value) << key;
    }
}

TEST(PortViews, NamePatternsMatchNameOrDescriptionInAnyCase) {
    const PORT_INFO port = Port("Ethernet 2", PORT_TYPE_ETHERNET, {}, "{GUID}", "Contoso Gigabit");
    for (const char* pattern : {"ethernet 2", "ETH*", "*gigabit", "Ethernet ?"}) EXPECT_TRUE(MatchesPattern(port, pattern)) << pattern;
    for (const char* pattern : {"Ethernet", "*wi-fi*", "Ethernet ??"}) EXPECT_FALSE(MatchesPattern(port, pattern)) << pattern;
}

// Descriptions and names as Windows shows them; the README's tunnel table names the source of each.
TEST(TunnelRecognition, NamesTheClientFamilyFromWhatTheRecordCarries) {
    const auto adapter = [](const char* description, const char* name = "Ethernet 2") {
        return Port(name, PORT_TYPE_ETHERNET, {{0x0200000A, kMask24}}, "{GUID}", description);
    };
    const auto dialled = [](bool vpnDevice, bool connected) {
        std::vector<PORT_ADDRESS> addresses;
        if (connected) addresses.push_back({0x0300000A, 0});
        PORT_INFO port = Port("Office", PORT_TYPE_DIALUP, addresses, "NdisWanIp");
        port.IsVpnDevice = vpnDevice;
        return port;
    };
    const struct {
        const char* name;
        PORT_INFO port;
        const char* family;  // "" for no tunnel
    } kCases[] = {
        {"WireGuardNT", adapter("WireGuard Tunnel"), "WireGuard"},
        {"a second WireGuard tunnel", adapter("WireGuard Tunnel #2"), "WireGuard"},
        {"OpenVPN's TAP-Windows6", adapter("TAP-Windows Adapter V9"), "OpenVPN"},
        {"OpenVPN 2.2's TAP-Win32", adapter("TAP-Win32 Adapter V9"), "OpenVPN"},
        {"OpenVPN's data channel offload", adapter("OpenVPN Data Channel Offload"), "OpenVPN"},
        {"AnyConnect", adapter("Cisco AnyConnect Secure Mobility Client Virtual Miniport Adapter for Windows x64"), "Cisco Secure Client"},
        {"AnyConnect's shorter name", adapter("Cisco AnyConnect Virtual Miniport Adapter for Windows x64"), "Cisco Secure Client"},
        {"GlobalProtect", adapter("PANGP Virtual Ethernet Adapter Secure"), "GlobalProtect"},
        {"FortiClient SSL VPN", adapter("Fortinet SSL VPN Virtual Ethernet Adapter"), "FortiClient"},
        {"FortiClient IPsec", adapter("Fortinet Virtual Ethernet Adapter (NDIS 6.30)"), "FortiClient"},
        {"Pulse Secure", adapter("Juniper Networks Virtual Adapter"), "Pulse Secure / Ivanti"},
        {"Check Point Endpoint VPN", adapter("Check Point Virtual Network Adapter For Endpoint VPN Client"), "Check Point Endpoint"},
        {"Check Point SSL Network Extender", adapter("Check Point Virtual Network Adapter For SSL Network Extender"), "Check Point Endpoint"},
        {"SonicWall Global VPN Client", adapter("SonicWALL Virtual NIC"), "SonicWall"},
        {"Zscaler", adapter("Zscaler Network Adapter 1.0.2.0"), "Zscaler"},
        {"Tailscale", adapter("Tailscale Tunnel", "Tailscale"), "Tailscale"},
        {"ZeroTier", adapter("ZeroTier Virtual Port", "ZeroTier One [60ee7c034a983def]"), "ZeroTier"},
        {"ZeroTier by its name alone", adapter("", "ZeroTier One [60ee7c034a983def]"), "ZeroTier"},
        {"a VPN connection Windows dialled", dialled(true, true), "Windows VPN connection"},
        {"a physical Cisco adapter", adapter("Cisco Systems VIC Ethernet Interface"), ""},
        {"a LAN someone named WireGuard", adapter("Realtek PCIe GbE Family Controller", "WireGuard"), ""},
        {"Hyper-V", adapter("Hyper-V Virtual Ethernet Adapter", "vEthernet (Default Switch)"), ""},
        {"VirtualBox", adapter("VirtualBox Host-Only Ethernet Adapter"), ""},
        {"Teredo tunnelling is no VPN", adapter("Microsoft Teredo Tunneling Adapter"), ""},
        {"a VPN entry nobody dialled", dialled(true, false), ""},
        {"a PPPoE link", dialled(false, true), ""},
        {"Wintun of no known client", adapter("Wintun Userspace Tunnel"), "unknown client"},
        {"a made-up client's SSL-VPN adapter", adapter("Contoso SSL-VPN Adapter"), "unknown client"},
    };
    for (const auto& c : kCases) EXPECT_STREQ(linkset::classify_tunnel(c.port).family_name(), c.family) << c.name;
}

TEST(WatchReport, NamesPortsThatCameOrWentAndTheFieldsThatChanged) {
    const std::vector<PORT_INFO> before = {Port("lan", PORT_TYPE_ETHERNET, {{0x0100000A, kMask24}}),
                                           Port("gone", PORT_TYPE_ETHERNET, {{0x0200000A, kMask24}})};
    const std::vector<PORT_INFO> after = {Port("lan", PORT_TYPE_ETHERNET, {{0x0900000A, kMask24}}),
                                          Port("new", PORT_TYPE_ETHERNET, {})};
    const std::vector<PortChange> changes = DiffPorts(before, after);
    std::vector<std::string> lines;
    for (const PortChange& change : changes) lines.push_back(ChangeAsText(change));
    EXPECT_EQ(lines, (std::vector<std::string>{"went    ethernet \"gone\"",
                                               "changed ethernet \"lan\": addresses 10.0.0.1/24 -> 10.0.0.9/24",
                                               "came    ethernet \"new\" -"}));
    EXPECT_EQ(ChangeJson(changes[0], 7)["port"]["address"], "10.0.0.2");  // as it was, not as "no address"
    const Json changed = ChangeJson(changes[1], 7)["changes"];
    EXPECT_EQ(changed.size(), 2u);  // address and addresses
    EXPECT_EQ(changed["address"], Json::parse(R"({"old": "10.0.0.1", "new": "10.0.0.9"})"));
    EXPECT_TRUE(DiffPorts(after, after).empty());
}

}  // namespace
