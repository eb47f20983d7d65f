// What linkset prints: the change report of `watch`, and JSON that stays valid for any name.
#include <gtest/gtest.h>

#include <cstring>

#include "format.h"

namespace {

PORT_INFO Port(const char* name, uint32_t address) {
    PORT_INFO port = {};
    port.PortType = PORT_TYPE_ETHERNET;
    std::strcpy(port.ConnectionName, name);
    std::strcpy(port.AdapterName, name);
    port.IpAddress = address;
    port.HasIpAddress = address != 0;
    return port;
}

TEST(WatchReport, NamesPortsThatCameWentOrChanged) {
    const std::vector<PORT_INFO> before = {Port("lan", 0x0100000A), Port("gone", 0x0200000A)};
    const std::vector<PORT_INFO> after = {Port("lan", 0x0900000A), Port("new", 0)};
    EXPECT_EQ(DescribeChanges(before, after),
              (std::vector<std::string>{"- ethernet \"gone\" 10.0.0.2", "~ ethernet \"lan\" 10.0.0.1  ->  ethernet \"lan\" 10.0.0.9",
                                        "+ ethernet \"new\" (no address)"}));
    EXPECT_TRUE(DescribeChanges(after, after).empty());
}

TEST(PortsJson, EscapesNamesAndWritesAbsentAddressesAsNull) {
    const std::string json = PortsAsJson({Port("say \"hi\"\\\t", 0)});
    EXPECT_NE(json.find("\"connectionName\":\"say \\\"hi\\\"\\\\\\t\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"address\":null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"addresses\":[]"), std::string::npos) << json;
}

}  // namespace
