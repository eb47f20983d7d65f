// How linkset shows ports and addresses: readable text and JSON.
#pragma once

#include <linkset/linkset.h>

#include <cstdint>
#include <string>
#include <vector>

std::string FormatAddress(uint32_t address);  // network order in, dotted text out
std::string FormatMac(const PORT_INFO& port);
const char* PortTypeName(uint32_t portType);

// Port records as blocks of aligned "field  value" lines.
std::string PortsAsText(const std::vector<PORT_INFO>& ports);
// {"ports":[...]}: the schema documented in the README.
std::string PortsAsJson(const std::vector<PORT_INFO>& ports);

// The three address lists of the address queries.
struct AddressLists {
    std::vector<uint32_t> gateways, dnsServers, winsServers;
};
std::string AddressesAsText(const AddressLists& lists);
std::string AddressesAsJson(const AddressLists& lists);

// One line per difference between two snapshots of the port list; empty when they agree.
std::vector<std::string> DescribeChanges(const std::vector<PORT_INFO>& before, const std::vector<PORT_INFO>& after);
