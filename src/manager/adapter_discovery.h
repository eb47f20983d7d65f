// Turning the machine's network adapters into port records.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdint>

#include "manager/port_list.h"

class CIpHelperAPI;

// Which record layout Remote Access expects for its connection list: Windows 2000 has its own.
enum class RasConnLayout { Windows2000, Other };

// What one adapter pass found: the new adapter ports, and the signature of their addresses
// (the wrapping sum of every adapter's first address; 0 when the pass stopped early).
struct AdapterPass {
    PortList ports;
    uint32_t signature = 0;
};

// Reads the adapter list and interface table through `ipHelper` and builds one record per
// adapter, in adapter-list order. Reports nothing: a failing call gives an empty pass.
AdapterPass DiscoverAdapters(CIpHelperAPI& ipHelper, RasConnLayout layout);

// Fills a zeroed record from one adapter.
void FillAdapterPort(CIpHelperAPI& ipHelper, PORT_INFO& port, const IP_ADAPTER_INFO& adapter,
                     const MIB_IFTABLE& interfaces);

// Replaces the adapter ports of `ports` with the pass's (unconnected phone-book entries stay;
// dial-up ports go to the front, the others to the back, in pass order) and stores the new
// signature. Answers whether the signature moved. The caller holds the list's lock.
bool MergeAdapterPorts(PortList& ports, uint32_t& addressSum, AdapterPass&& pass);

// The address of dotted text in network order ("10.0.0.1" gives the bytes 0A 00 00 01), or 0.
uint32_t ParseDottedAddress(const char* text);

// True when the interface runs at one of the 802.11 rates.
bool IsWirelessLinkSpeed(const MIB_IFROW& row);

// Appends one WINS server chain to the port's list from position `index`; answers the index
// after it, or -1 for a null chain. Texts that are empty or begin with '0' are skipped.
int AddWinsServers(PORT_INFO& port, int index, const IP_ADDR_STRING* servers);
