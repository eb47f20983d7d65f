// The list rules both discovery passes rely on, and the dotted-address parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manager/adapter_discovery.h"
#include "manager/port_list.h"
#include "manager_harness.h"

namespace {

std::vector<std::string> Names(const PortList& list) {
    std::vector<std::string> names;
    for (const auto& port : list) names.push_back(port->ConnectionName);
    return names;
}

PORT_INFO PhoneBookEntry(const char* name) {
    PORT_INFO entry = MakePort(PORT_TYPE_DIALUP, name, 0);
    std::strcpy(entry.AdapterName, kPhoneBookAdapterName);
    return entry;
}

TEST(AddPort, ADialUpPortWithoutConnectionNameIsMatchedByItsAdapterName) {
    PortList list;
    PORT_INFO unnamed = MakePort(PORT_TYPE_DIALUP, "{GUID-1}", 0x0500000A);
    unnamed.ConnectionName[0] = '\0';
    AddPort(list, MakePort(PORT_TYPE_ETHERNET, "lan", 0x0100000A));
    AddPort(list, unnamed);
    AddPort(list, MakePort(PORT_TYPE_DIALUP, "{guid-1}", 0x0600000A));
    ASSERT_EQ(Names(list), (std::vector<std::string>{"{guid-1}", "lan"}));
    EXPECT_EQ(list.front()->IpAddress, 0x0600000Au);
}

TEST(PurgePorts, ModesSelectPhoneBookEntriesOrEverythingElse) {
    const std::pair<PurgeMode, std::vector<std::string>> cases[] = {
        {PurgeMode::KeepPhoneBookEntries, {"entry"}},
        {PurgeMode::PhoneBookEntries, {"dialing", "connected", "lan"}},
        {PurgeMode::All, {}},
    };
    for (const auto& [mode, left] : cases) {
        PortList list;
        AddPort(list, MakePort(PORT_TYPE_ETHERNET, "lan", 0x0100000A));
        AddPort(list, MakePort(PORT_TYPE_DIALUP, "connected", 0x0200000A));
        AddPort(list, MakePort(PORT_TYPE_DIALUP, "dialing", 0));  // a PPP adapter without an address yet
        AddPort(list, PhoneBookEntry("entry"));
        PurgePorts(list, mode);
        EXPECT_EQ(Names(list), left) << static_cast<int>(mode);
    }
}

TEST(MergeAdapterPorts, PutsPppFirstThenSurvivingEntriesThenTheOthers) {
    PortList ports;
    AddPort(ports, PhoneBookEntry("entry"));
    AddPort(ports, MakePort(PORT_TYPE_ETHERNET, "old lan", 0x0900000A));
    uint32_t sum = 1;
    AdapterPass pass;
    for (const PORT_INFO& port : {MakePort(PORT_TYPE_ETHERNET, "lan1", 1), MakePort(PORT_TYPE_DIALUP, "ppp1", 2),
                                  MakePort(PORT_TYPE_WIRELESS, "wifi", 3), MakePort(PORT_TYPE_DIALUP, "ppp2", 4)})
        AddPort(pass.ports, port);
    pass.signature = 10;
    EXPECT_TRUE(MergeAdapterPorts(ports, sum, std::move(pass)));
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"ppp1", "ppp2", "entry", "lan1", "wifi"}));
    EXPECT_EQ(sum, 10u);
}

TEST(ParseDottedAddress, GivesNetworkOrderAndRefusesIncompleteText) {
    const uint32_t address = ParseDottedAddress("10.0.0.1");
    EXPECT_EQ(std::memcmp(&address, "\x0A\x00\x00\x01", 4), 0);
    EXPECT_EQ(ParseDottedAddress("1.2.3.260") >> 24, 4u);  // each part modulo 256
    for (const char* refused : {"10.0.0", "1.2.3.65535", "", "0.0.0.0"}) EXPECT_EQ(ParseDottedAddress(refused), 0u) << refused;
    EXPECT_EQ(ParseDottedAddress(nullptr), 0u);
}

}  // namespace
