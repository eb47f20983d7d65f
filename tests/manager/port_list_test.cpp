// The list rules both discovery passes rely on, and the dotted-address parser. How an adapter
// pass merges its ports into the list is checked end to end (adapter_discovery_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
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
        {PurgeMode::All, {}}};
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

TEST(ParseDottedAddress, GivesNetworkOrderAndRefusesIncompleteText) {
    const uint32_t address = ParseDottedAddress("10.0.0.1");
    EXPECT_EQ(std::memcmp(&address, "\x0A\x00\x00\x01", 4), 0);
    EXPECT_EQ(ParseDottedAddress("1.2.3.260") >> 24, 4u);  // each part modulo 256
    for (const char* refused : {"10.0.0", "1.2.3.65535", "", "0.0.0.0"}) EXPECT_EQ(ParseDottedAddress(refused), 0u) << refused;
    EXPECT_EQ(ParseDottedAddress(nullptr), 0u);
}

// Plain text is read without scanf; every text, plain or not, must read as scanf's
// "%ld.%ld.%ld.%ld" does, a part of 65535 or a missing part giving 0.
TEST(ParseDottedAddress, ReadsEveryTextAsScanfDoes) {
    const auto byScanf = [](const char* text) {
        long p[4] = {65535, 65535, 65535, 65535};
        std::sscanf(text, "%ld.%ld.%ld.%ld", &p[0], &p[1], &p[2], &p[3]);
        if (std::count(p, p + 4, 65535L) != 0) return 0u;
        uint32_t address = 0;
        for (int i = 3; i >= 0; --i) address = (address << 8) | (static_cast<uint32_t>(p[i]) & 0xFF);
        return address;
    };
    std::vector<std::string> texts = {"192.168.1.20", "001.255.0.10", "999.1.1.1", "1.2.3.4.", "1.2.3.4 ",
                                      "1.2.3.1234", " 1.2.3.4", "-1.2.3.4", "1.2..4", "1.2.3"};
    const char alphabet[] = "0123456789....  +-x";
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        std::string& text = texts.emplace_back(random() % 18, ' ');
        for (char& c : text) c = alphabet[random() % (sizeof alphabet - 1)];
    }
    for (const std::string& text : texts) ASSERT_EQ(ParseDottedAddress(text.c_str()), byScanf(text.c_str())) << '"' << text << '"';
}

}  // namespace
