// What linkset prints for made-up records: text and JSON agree, and `watch` names what changed.
#include <gtest/gtest.h>

#include <cstring>

#include "format.h"

namespace {

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
    port.IpAddress = addresses.empty() ? 0 : addresses[0].Address;
    port.IpMask = addresses.empty() ? 0 : addresses[0].Mask;
    port.HasIpAddress = port.IpAddress != 0;
    return port;
}

struct Case {
    const char* name;
    PORT_INFO port;
    std::vector<std::string> lines;  // each a line of the text block
    nlohmann::ordered_json json;     // fields of its JSON object
};

TEST(PortViews, TextAndJsonShowTheSamePort) {
    const Case kCases[] = {
        {"addressed, mask as a prefix", Port("LAN", PORT_TYPE_ETHERNET, {{0x0202000A, kMask24}}),
         {"ethernet \"LAN\"", "  addresses    10.0.2.2/24", "  flags        -"},
         {{"address", "10.0.2.2"}, {"mask", "255.255.255.0"}}},
        {"odd mask stays dotted", Port("LAN", PORT_TYPE_ETHERNET, {{0x0100000A, 0x00FF00FF}}),
         {"  addresses    10.0.0.1/255.0.255.0"}, {{"addresses", {{{"address", "10.0.0.1"}, {"mask", "255.0.255.0"}}}}}},
        {"an unused 0.0.0.0 entry is no address", Port("LAN", PORT_TYPE_ETHERNET, {{0, 0}}),
         {"  addresses    -"}, {{"address", nullptr}, {"addresses", nlohmann::ordered_json::array()}}},
        {"a GUID name gives way to the description",
         Port("{4D36E972}", PORT_TYPE_WIRELESS, {}, "{4D36E972}", "Contoso Wi-Fi"),
         {"wireless \"Contoso Wi-Fi\"", "  adapter      {4D36E972}"}, {{"connectionName", "{4D36E972}"}}},
        {"a phone-book entry is a dial-up port not connected", Port("My ISP", PORT_TYPE_DIALUP, {}, "NdisWanIp"),
         {"dial-up \"My ISP\"", "  adapter      NdisWanIp", "  flags        dial-up, not connected"},
         {{"type", "dial-up"}, {"address", nullptr}, {"dialUp", true}, {"connected", false}}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string text = PortsAsText({c.port});
        for (const std::string& line : c.lines) EXPECT_NE(text.find(line + "\n"), std::string::npos) << text;
        const nlohmann::ordered_json json = PortJson(c.port);
        for (const auto& [key, value] : c.json.items()) EXPECT_EQ(json[key], value) << key;
        EXPECT_EQ(text.find("0.0.0.0"), std::string::npos) << text;
    }
}

TEST(PortViews, BriefIsOneAlignedLinePerPort) {
    EXPECT_EQ(PortsAsBriefText({Port("LAN", PORT_TYPE_ETHERNET, {{0x0202000A, kMask24}, {0x0302000A, kMask24}}),
                                Port("My ISP", PORT_TYPE_DIALUP, {}, "NdisWanIp")}),
              "type      name    address         gateway  flags\n"
              "ethernet  LAN     10.0.2.2/24 +1  -        -\n"
              "dial-up   My ISP  -               -        dial-up, not connected\n");
}

TEST(PortViews, NamePatternsMatchNameOrDescriptionInAnyCase) {
    const PORT_INFO port = Port("Ethernet 2", PORT_TYPE_ETHERNET, {}, "{GUID}", "Contoso Gigabit");
    for (const char* pattern : {"ethernet 2", "ETH*", "*gigabit", "Ethernet ?"}) EXPECT_TRUE(MatchesPattern(port, pattern)) << pattern;
    for (const char* pattern : {"Ethernet", "*wi-fi*", "Ethernet ??"}) EXPECT_FALSE(MatchesPattern(port, pattern)) << pattern;
}

TEST(WatchReport, NamesPortsThatCameOrWentAndTheFieldsThatChanged) {
    const std::vector<PORT_INFO> before = {Port("lan", PORT_TYPE_ETHERNET, {{0x0100000A, kMask24}}),
                                           Port("gone", PORT_TYPE_ETHERNET, {{0x0200000A, kMask24}})};
    const std::vector<PORT_INFO> after = {Port("lan", PORT_TYPE_ETHERNET, {{0x0900000A, kMask24}}),
                                          Port("new", PORT_TYPE_ETHERNET, {})};
    std::vector<std::string> lines;
    std::vector<nlohmann::ordered_json> events;
    for (const PortChange& change : DiffPorts(before, after)) {
        lines.push_back(ChangeAsText(change));
        events.push_back(ChangeJson(change, 7));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"went    ethernet \"gone\"",
                                               "changed ethernet \"lan\": addresses 10.0.0.1/24 -> 10.0.0.9/24",
                                               "came    ethernet \"new\" -"}));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["event"], "went");
    EXPECT_EQ(events[0]["port"]["address"], "10.0.0.2");  // as it was, not as "no address"
    EXPECT_EQ(events[1]["changes"], nlohmann::ordered_json::parse(R"({"address": {"old": "10.0.0.1", "new": "10.0.0.9"},
        "addresses": {"old": [{"address": "10.0.0.1", "mask": "255.255.255.0"}],
                      "new": [{"address": "10.0.0.9", "mask": "255.255.255.0"}]}})"));
    EXPECT_TRUE(DiffPorts(after, after).empty());
}

}  // namespace
