#include "format.h"

#include <windows.h>

#include <cstdio>
#include <map>

using json = nlohmann::ordered_json;

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
std::string Utf8(const std::string& ansi) {
    if (ansi.empty()) return {};
    const int ansiLength = static_cast<int>(ansi.size());
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, wide.data(), static_cast<int>(wide.size()));
    const int wideLength = static_cast<int>(wide.size());
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    return utf8;
}
template <size_t N>
std::string Utf8(const char (&field)[N]) {
    return Utf8(linkset::field_text(field));
}

template <class Item, class Render>
std::string Join(const std::vector<Item>& items, Render render, const char* none = "-") {
    if (items.empty()) return none;
    std::string out;
    for (const Item& item : items) out += (out.empty() ? "" : ", ") + render(item);
    return out;
}

std::string Text(linkset::address address) { return address.to_string(); }
json Json(linkset::address address) { return address.empty() ? json() : json(address.to_string()); }
json JsonList(const std::vector<linkset::address>& list) {
    json array = json::array();
    for (linkset::address address : list) array.push_back(address.to_string());
    return array;
}

// "192.0.2.2/24", or the dotted mask where its ones are not contiguous.
std::string WithMask(const linkset::interface_address& entry) {
    const int prefix = entry.mask.prefix_length();
    return entry.ip.to_string() + "/" + (prefix < 0 ? entry.mask.to_string() : std::to_string(prefix));
}

std::string Mac(const PORT_INFO& port) {
    const unsigned char* m = port.MacAddress;
    if ((m[0] | m[1] | m[2] | m[3] | m[4] | m[5]) == 0) return {};
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

// Dial-up ports without an address are phone-book entries nobody has dialled.
std::string Flags(const PORT_INFO& port) {
    std::string flags;
    const auto add = [&](const std::string& flag) { flags += (flags.empty() ? "" : ", ") + flag; };
    if (port.IsDialUp) add(port.HasIpAddress ? "dial-up, connected" : "dial-up, not connected");
    if (port.IsVpnDevice) add("vpn device");
    if (const linkset::tunnel_class tunnel = linkset::classify_tunnel(port)) add(std::string("tunnel: ") + tunnel.family_name());
    return OrDash(flags);
}

// null for a port that is no tunnel.
json TunnelJson(const PORT_INFO& port) {
    const linkset::tunnel_class tunnel = linkset::classify_tunnel(port);
    if (!tunnel) return json();
    return {{"family", tunnel.family_name()}, {"known", tunnel.kind == linkset::tunnel_kind::known_client}};
}

std::string Addresses(const PORT_INFO& port) { return Join(linkset::addresses_of(port), WithMask); }

std::string Dhcp(const PORT_INFO& port) {
    if (!port.DhcpEnabled) return "off";
    return port.DhcpServer ? "on, server " + Text(linkset::address(port.DhcpServer)) : "on";
}

// The fields of a port's text block, in order; `watch` compares ports by the same renderings.
struct TextField {
    const char* name;
    std::string (*render)(const PORT_INFO& port);
};
const TextField kTextFields[] = {
    {"type", [](const PORT_INFO& p) { return std::string(PortTypeName(p.PortType)); }},
    {"description", [](const PORT_INFO& p) { return OrDash(Utf8(p.Description)); }},
    {"adapter", [](const PORT_INFO& p) { return OrDash(Utf8(p.AdapterName)); }},
    {"addresses", Addresses},
    {"gateway", [](const PORT_INFO& p) { return p.Gateway ? Text(linkset::address(p.Gateway)) : "-"; }},
    {"mac", [](const PORT_INFO& p) { return OrDash(Mac(p)); }},
    {"dhcp", Dhcp},
    {"dns", [](const PORT_INFO& p) { return Join(linkset::dns_servers_of(p), Text); }},
    {"wins", [](const PORT_INFO& p) { return Join(linkset::wins_servers_of(p), Text); }},
    {"flags", Flags},
};
constexpr size_t kTypeField = 0;  // shown in the heading, not as a line

std::string Heading(const PORT_INFO& port) {
    return std::string(PortTypeName(port.PortType)) + " \"" + DisplayName(port) + "\"";
}

// A port is the same port in two snapshots when adapter and connection name agree.
std::string PortKey(const PORT_INFO& port) {
    return linkset::field_text(port.AdapterName) + "|" + linkset::field_text(port.ConnectionName);
}

// Columns padded to their widest cell, two spaces apart.
std::string Table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            if (row[i].size() > widths[i]) widths[i] = row[i].size();
        }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i] + std::string(widths[i] - row[i].size() + 2, ' ') : row[i];
        out += line + "\n";
    }
    return out;
}

}  // namespace

const char* PortTypeName(uint32_t portType) {
    for (const PortTypeInfo& type : kPortTypes)
        if (type.code == portType) return type.name;
    return "unknown";
}

std::string DisplayName(const PORT_INFO& port) {
    const std::string name = linkset::field_text(port.ConnectionName);
    const bool onlyTheGuid = name.empty() || name == linkset::field_text(port.AdapterName);
    return Utf8(onlyTheGuid && port.Description[0] != '\0' ? linkset::field_text(port.Description) : name);
}

bool MatchesPattern(const PORT_INFO& port, const std::string& pattern) {
    return linkset::matches_pattern(pattern.c_str(), linkset::field_text(port.ConnectionName).c_str()) ||
           linkset::matches_pattern(pattern.c_str(), linkset::field_text(port.Description).c_str());
}

std::string PortsAsText(const std::vector<PORT_INFO>& ports) {
    if (ports.empty()) return "no ports\n";
    std::string out;
    for (const PORT_INFO& port : ports) {
        out += Heading(port) + "\n";
        for (size_t i = kTypeField + 1; i < std::size(kTextFields); ++i) {
            char head[24];
            std::snprintf(head, sizeof head, "  %-13s", kTextFields[i].name);
            out += head + kTextFields[i].render(port) + "\n";
        }
        out += "\n";
    }
    return out;
}

std::string PortsAsBriefText(const std::vector<PORT_INFO>& ports) {
    if (ports.empty()) return "no ports\n";
    std::vector<std::vector<std::string>> rows = {{"type", "name", "address", "gateway", "flags"}};
    for (const PORT_INFO& port : ports) {
        const std::vector<linkset::interface_address> addresses = linkset::addresses_of(port);
        std::string address = addresses.empty() ? "-" : WithMask(addresses.front());
        if (addresses.size() > 1) address += " +" + std::to_string(addresses.size() - 1);
        rows.push_back({PortTypeName(port.PortType), DisplayName(port), address,
                        port.Gateway ? Text(linkset::address(port.Gateway)) : "-", Flags(port)});
    }
    return Table(rows);
}

json PortJson(const PORT_INFO& p) {
    json addresses = json::array();
    for (const linkset::interface_address& entry : linkset::addresses_of(p))
        addresses.push_back({{"address", entry.ip.to_string()}, {"mask", entry.mask.to_string()}});
    const std::string mac = Mac(p);
    return {
        {"type", PortTypeName(p.PortType)},
        {"typeCode", p.PortType},
        {"connectionName", Utf8(p.ConnectionName)},
        {"description", Utf8(p.Description)},
        {"adapterName", Utf8(p.AdapterName)},
        {"mac", mac.empty() ? json() : json(mac)},
        {"address", Json(linkset::address(p.IpAddress))},
        {"mask", p.IpAddress ? Json(linkset::address(p.IpMask)) : json()},
        {"addresses", addresses},
        {"gateway", Json(linkset::address(p.Gateway))},
        {"dhcp", {{"enabled", p.DhcpEnabled != 0}, {"server", Json(linkset::address(p.DhcpServer))}}},
        {"dns", JsonList(linkset::dns_servers_of(p))},
        {"wins", JsonList(linkset::wins_servers_of(p))},
        {"dialUp", p.IsDialUp != 0},
        {"connected", p.IsDialUp ? json(p.HasIpAddress != 0) : json()},
        {"vpnDevice", p.IsVpnDevice != 0},
        {"tunnel", TunnelJson(p)},
    };
}

json PortsJson(const std::vector<PORT_INFO>& ports) {
    json list = json::array();
    for (const PORT_INFO& port : ports) list.push_back(PortJson(port));
    return {{"ports", list}};
}

std::string AddressesAsText(const AddressLists& lists) {
    return Table({{"gateways", Join(lists.gateways, Text)},
                  {"dns", Join(lists.dnsServers, Text)},
                  {"wins", Join(lists.winsServers, Text)}});
}

json AddressesJson(const AddressLists& lists) {
    return {{"gateways", JsonList(lists.gateways)}, {"dns", JsonList(lists.dnsServers)},
            {"wins", JsonList(lists.winsServers)}};
}

std::vector<PortChange> DiffPorts(const std::vector<PORT_INFO>& before, const std::vector<PORT_INFO>& after) {
    std::map<std::string, const PORT_INFO*> old, now;
    for (const PORT_INFO& port : before) old[PortKey(port)] = &port;
    for (const PORT_INFO& port : after) now[PortKey(port)] = &port;
    std::vector<PortChange> changes;
    for (const auto& [key, port] : old)
        if (!now.count(key)) changes.push_back({PortChange::kWent, port, nullptr});
    for (const auto& [key, port] : now) {
        const auto previous = old.find(key);
        if (previous == old.end())
            changes.push_back({PortChange::kCame, nullptr, port});
        else if (PortJson(*previous->second) != PortJson(*port))
            changes.push_back({PortChange::kChanged, previous->second, port});
    }
    return changes;
}

std::string ChangeAsText(const PortChange& change) {
    switch (change.kind) {
        case PortChange::kCame: return "came    " + Heading(*change.after) + " " + Addresses(*change.after);
        case PortChange::kWent: return "went    " + Heading(*change.before);
        case PortChange::kChanged: break;
    }
    std::string fields;
    for (const TextField& field : kTextFields) {
        const std::string old = field.render(*change.before), now = field.render(*change.after);
        if (old != now) fields += (fields.empty() ? ": " : "; ") + std::string(field.name) + " " + old + " -> " + now;
    }
    return "changed " + Heading(*change.after) + OrDash(fields);
}

json ChangeJson(const PortChange& change, uint32_t changeCount) {
    static const char* const kEvents[] = {"came", "went", "changed"};
    json event = {{"change", changeCount}, {"event", kEvents[change.kind]},
                  {"port", PortJson(change.after ? *change.after : *change.before)}};
    if (change.kind != PortChange::kChanged) return event;
    const json old = PortJson(*change.before);
    json fields = json::object();
    for (const auto& [name, value] : event["port"].items())
        if (old[name] != value) fields[name] = {{"old", old[name]}, {"new", value}};
    event["changes"] = fields;
    return event;
}

const char* VpnStateName(linkset::vpn_state state) {
    switch (state) {
        case linkset::vpn_state::connected: return "connected";
        case linkset::vpn_state::not_connected: return "not connected";
        case linkset::vpn_state::no_plugin: return "no plug-in";
    }
    return "unknown";
}

std::string VpnAsText(const std::vector<VpnRow>& rows, const std::vector<linkset::vpn_kind>& connected,
                      const std::vector<PORT_INFO>& ports) {
    std::vector<std::vector<std::string>> table = {{"kind", "VPN client", "state", "connection"}};
    for (const VpnRow& row : rows)
        table.push_back({std::to_string(static_cast<uint32_t>(row.kind)), linkset::display_name(row.kind),
                         VpnStateName(row.state), OrDash(row.connection)});
    std::string names;
    for (linkset::vpn_kind kind : connected) names += (names.empty() ? "" : ", ") + std::string(linkset::display_name(kind));
    std::vector<std::vector<std::string>> tunnels = {{"tunnel of", "connection", "address"}};
    for (const PORT_INFO& port : ports)
        if (const linkset::tunnel_class tunnel = linkset::classify_tunnel(port))
            tunnels.push_back({tunnel.family_name(), DisplayName(port), Addresses(port)});
    return Table(table) + "\nconnected: " + (names.empty() ? "none" : names) + "\n\ntunnels in the port list:" +
           (tunnels.size() == 1 ? " none\n" : "\n" + Table(tunnels));
}

json VpnJson(const std::vector<VpnRow>& rows, const std::vector<linkset::vpn_kind>& connected,
             const std::vector<PORT_INFO>& ports) {
    json kinds = json::array(), connectedKinds = json::array(), tunnels = json::array();
    for (const VpnRow& row : rows)
        kinds.push_back({{"kind", static_cast<uint32_t>(row.kind)},
                         {"name", linkset::display_name(row.kind)},
                         {"state", VpnStateName(row.state)},
                         {"connection", row.connection.empty() ? json() : json(row.connection)}});
    for (linkset::vpn_kind kind : connected) connectedKinds.push_back(static_cast<uint32_t>(kind));
    for (const PORT_INFO& port : ports) {
        json tunnel = TunnelJson(port);
        if (tunnel.is_null()) continue;
        tunnel["connectionName"] = Utf8(port.ConnectionName);
        tunnel["description"] = Utf8(port.Description);
        tunnel["address"] = Json(linkset::address(port.IpAddress));
        tunnels.push_back(tunnel);
    }
    return {{"kinds", kinds}, {"connected", connectedKinds}, {"tunnels", tunnels}};
}
