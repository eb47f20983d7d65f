// How linkset shows ports, addresses, changes and VPN kinds: readable text and JSON. The JSON
// shapes are the ones documented in the README.
#pragma once

#include <linkset/linkset.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

const char* PortTypeName(uint32_t portType);

// The name a person knows the port by: its connection name, or its description when the
// connection name is only the adapter's GUID (machines without network-connection records).
std::string DisplayName(const PORT_INFO& port);

// `*` any run, `?` any one character, letters in any case; against the connection name or the
// description.
bool MatchesPattern(const PORT_INFO& port, const std::string& pattern);

// One block of aligned "field  value" lines per port.
std::string PortsAsText(const std::vector<PORT_INFO>& ports);
// One line per port: type, name, address, gateway, flags.
std::string PortsAsBriefText(const std::vector<PORT_INFO>& ports);
nlohmann::ordered_json PortJson(const PORT_INFO& port);
nlohmann::ordered_json PortsJson(const std::vector<PORT_INFO>& ports);

// The three lists of the manager's address queries.
struct AddressLists {
    std::vector<linkset::address> gateways, dnsServers, winsServers;
};
std::string AddressesAsText(const AddressLists& lists);
nlohmann::ordered_json AddressesJson(const AddressLists& lists);

// A port that came, went or changed between two snapshots of the port list.
struct PortChange {
    enum Kind { kCame, kWent, kChanged } kind;
    const PORT_INFO* before;  // null for a port that came
    const PORT_INFO* after;   // null for a port that went
};
std::vector<PortChange> DiffPorts(const std::vector<PORT_INFO>& before, const std::vector<PORT_INFO>& after);
// "changed ethernet "LAN": addresses 10.0.0.1/8 -> 10.0.0.9/8"
std::string ChangeAsText(const PortChange& change);
// {"change": N, "event": "came"|"went"|"changed", "port": {...}, "changes": {field: {"old", "new"}}}
nlohmann::ordered_json ChangeJson(const PortChange& change, uint32_t changeCount);

// One VPN client kind as detection sees it. `connection` names the connection of a kind that
// reports one (the RAS kind's dialled VPN connection); empty otherwise.
struct VpnRow {
    linkset::vpn_kind kind;
    linkset::vpn_state state;
    std::string connection;
};
const char* VpnStateName(linkset::vpn_state state);
// `connected`: the kinds that detection lists as connected; below them, the tunnels among
// `ports` (linkset::classify_tunnel).
std::string VpnAsText(const std::vector<VpnRow>& rows, const std::vector<linkset::vpn_kind>& connected,
                      const std::vector<PORT_INFO>& ports);
nlohmann::ordered_json VpnJson(const std::vector<VpnRow>& rows, const std::vector<linkset::vpn_kind>& connected,
                               const std::vector<PORT_INFO>& ports);
