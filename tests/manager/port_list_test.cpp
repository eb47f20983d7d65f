#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manager/adapter_discovery.h"
#include "manager/port_list.h"
#include "manager_probe.h"

namespace {

std::vector<std::string> Names(const PortList& list) {
    std::vector<std::string> names;
    for (const auto& port : list) names.push_back(port->ConnectionName);
    return names;
}

PORT_INFO PhoneBookEntry(const char* name) {
    PORT_INFO entry = MakePort(PORT_TYPE_DIALUP, "NdisWanIp", 0);
    std::strcpy(entry.ConnectionName, name);
    return entry;
}

TEST(AddPort, DialUpPortsGoFirstAndMergeByNameWithoutCase) {
    PortList list;
    AddPort(list, MakePort(PORT_TYPE_ETHERNET, "lan", 0x0100000A));
    AddPort(list, MakePort(PORT_TYPE_ETHERNET, "lan", 0x0200000A));  // equal names, other types: both stay
    AddPort(list, MakePort(PORT_TYPE_DIALUP, "Office VPN", 0x0300000A));
    AddPort(list, MakePort(PORT_TYPE_DIALUP, "OFFICE vpn", 0x0400000A));  // the same link, newer data
    EXPECT_EQ(Names(list), (std::vector<std::string>{"OFFICE vpn", "lan", "lan"}));
    EXPECT_EQ(list.front()->IpAddress, 0x0400000Au);

    // An existing dial-up port without a connection name is matched by its adapter name.
    PortList unnamed;
    PORT_INFO first = MakePort(PORT_TYPE_DIALUP, "{GUID-1}", 0x0500000A);
    first.ConnectionName[0] = '\0';
    AddPort(unnamed, first);
    AddPort(unnamed, MakePort(PORT_TYPE_DIALUP, "{guid-1}", 0x0600000A));
    ASSERT_EQ(unnamed.size(), 1u);
    EXPECT_EQ(unnamed.front()->IpAddress, 0x0600000Au);
}

TEST(PurgePorts, ModesSelectPhoneBookEntriesOrEverythingElse) {
    auto fill = [] {
        PortList list;
        AddPort(list, MakePort(PORT_TYPE_ETHERNET, "lan", 0x0100000A));
        AddPort(list, MakePort(PORT_TYPE_DIALUP, "connected", 0x0200000A));
        AddPort(list, PhoneBookEntry("entry"));
        return list;
    };
    PortList keep = fill();
    PurgePorts(keep, PurgeMode::KeepPhoneBookEntries);
    EXPECT_EQ(Names(keep), (std::vector<std::string>{"entry"}));

    PortList entries = fill();
    PurgePorts(entries, PurgeMode::PhoneBookEntries);
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"connected", "lan"}));

    PortList all = fill();
    PurgePorts(all, PurgeMode::All);
    EXPECT_TRUE(all.empty());
}

TEST(MergeAdapterPorts, OrdersPppFirstThenEntriesThenOthersAndComparesTheSignature) {
    PortList ports;
    AddPort(ports, PhoneBookEntry("entry"));
    AddPort(ports, MakePort(PORT_TYPE_ETHERNET, "old lan", 0x0900000A));
    uint32_t sum = 1;

    AdapterPass pass;
    for (const PORT_INFO& port : {MakePort(PORT_TYPE_ETHERNET, "lan1", 0x0100000A),
                                  MakePort(PORT_TYPE_DIALUP, "ppp1", 0x0200000A),
                                  MakePort(PORT_TYPE_WIRELESS, "wifi", 0x0300000A),
                                  MakePort(PORT_TYPE_DIALUP, "ppp2", 0x0400000A)}) {
        AddPort(pass.ports, port);
        pass.signature += port.IpAddress;
    }
    const uint32_t signature = pass.signature;
    EXPECT_TRUE(MergeAdapterPorts(ports, sum, std::move(pass)));
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"ppp1", "ppp2", "entry", "lan1", "wifi"}));
    EXPECT_EQ(sum, signature);

    // A pass whose signature equals the last one's is no change, whatever its ports.
    AdapterPass same;
    AddPort(same.ports, MakePort(PORT_TYPE_ETHERNET, "lan1", 0x0900000A));
    AddPort(same.ports, MakePort(PORT_TYPE_ETHERNET, "lan2", 0x0100000A));
    same.signature = signature;
    EXPECT_FALSE(MergeAdapterPorts(ports, sum, std::move(same)));
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"entry", "lan1", "lan2"}));

    // A pass that found nothing keeps only the phone-book entries and signs with 0.
    EXPECT_TRUE(MergeAdapterPorts(ports, sum, AdapterPass{}));
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"entry"}));
    EXPECT_EQ(sum, 0u);
}

}  // namespace
