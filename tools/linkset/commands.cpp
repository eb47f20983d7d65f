#include "commands.h"

#include <cstdio>
#include <string>
#include <vector>

#include "format.h"
#include "options.h"
#include "session.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr unsigned kWatchPollMs = 250;

// Asks for the count first, then for the records; ports may come or go in between, so it asks
// again until the buffer held them all. Records land in zeroed memory every time, so two
// snapshots of the same port compare equal byte for byte.
std::vector<PORT_INFO> ReadPorts(ILinkSetManager& manager, int filter) {
    std::vector<PORT_INFO> ports;
    for (;;) {
        ports.assign(ports.size(), PORT_INFO{});
        uint32_t copied = 0, total = 0;
        const uint32_t bytes = static_cast<uint32_t>(ports.size() * sizeof(PORT_INFO));
        if (manager.GetPorts(ports.empty() ? nullptr : ports.data(), bytes, &copied, &total, filter) != LS_OK) return {};
        if (total <= ports.size()) {
            ports.resize(copied);
            return ports;
        }
        ports.resize(total);
    }
}

using AddressQuery = int32_t (ILinkSetManager::*)(uint32_t*, uint32_t, uint32_t*);

std::vector<uint32_t> ReadAddresses(ILinkSetManager& manager, AddressQuery query) {
    // A null array is too small even for no addresses, so the buffer always has a slot.
    std::vector<uint32_t> addresses(1);
    for (;;) {
        uint32_t count = 0;
        const uint32_t bytes = static_cast<uint32_t>(addresses.size() * sizeof(uint32_t));
        const int32_t result = (manager.*query)(addresses.data(), bytes, &count);
        if (result != LS_ERROR_BUFFER_TOO_SMALL) {
            addresses.resize(result == LS_OK ? count : 0);
            return addresses;
        }
        addresses.resize(count);  // the number needed, told even when the array is too small
    }
}

// Creates the manager and waits for its first adapter pass; null when that fails.
bool Start(Session& session) {
    if (session.manager() == nullptr) return false;
    if (session.WaitForFirstPass()) return true;
    if (!Interrupted()) std::fprintf(stderr, "linkset: the first adapter pass did not come in time\n");
    return false;
}

struct PluginName {
    EPLUGINTYPE type;
    const char* name;
};
constexpr PluginName kPlugins[] = {
    {PLUGIN_CISCO3000, "cisco3000"}, {PLUGIN_NETSCREEN, "netscreen"}, {PLUGIN_CHECKPOINT, "checkpoint"},
    {PLUGIN_SAFENET, "safenet"},     {PLUGIN_RAS, "ras"},             {PLUGIN_AVENTAIL, "aventail"},
    {PLUGIN_ALCATEL, "alcatel"},     {PLUGIN_JUNIPERSSL, "juniperssl"},
};

const char* PluginNameOf(uint32_t type) {
    for (const PluginName& plugin : kPlugins)
        if (plugin.type == type) return plugin.name;
    return "unknown";
}

std::string StatusText(int32_t result, uint32_t status) {
    if (result == LS_ERROR_NO_PLUGIN) return "no plug-in";
    if (result != LS_OK) return "error " + std::to_string(result);
    return status == 1 ? "connected" : "not connected";
}

}  // namespace

int RunPorts(const Options& options) {
    Session session(options);
    if (!Start(session)) return kExitFailed;
    const std::vector<PORT_INFO> ports = ReadPorts(*session.manager(), options.filter);
    std::fputs((options.json ? PortsAsJson(ports) : PortsAsText(ports)).c_str(), stdout);
    return kExitOk;
}

int RunAddresses(const Options& options) {
    Session session(options);
    if (!Start(session)) return kExitFailed;
    ILinkSetManager& manager = *session.manager();
    const AddressLists lists{ReadAddresses(manager, &ILinkSetManager::GetGateways),
                             ReadAddresses(manager, &ILinkSetManager::GetDnsServers),
                             ReadAddresses(manager, &ILinkSetManager::GetWinsServers)};
    std::fputs((options.json ? AddressesAsJson(lists) : AddressesAsText(lists)).c_str(), stdout);
    return kExitOk;
}

int RunWatch(const Options& options) {
    Session session(options);
    if (!Start(session)) return kExitFailed;
    ILinkSetManager& manager = *session.manager();
    std::vector<PORT_INFO> ports = ReadPorts(manager, PORT_FILTER_ALL);
    uint32_t seen = manager.GetChangeCount();
    std::printf("watching %zu ports (change %u); Ctrl+C ends\n", ports.size(), seen);
    std::fflush(stdout);
    for (long changes = 0; options.count < 0 || changes < options.count;) {
        if (!PauseUnlessInterrupted(kWatchPollMs)) break;
        const uint32_t now = manager.GetChangeCount();
        if (now == seen) continue;
        seen = now;
        ++changes;
        std::vector<PORT_INFO> fresh = ReadPorts(manager, PORT_FILTER_ALL);
        std::printf("change %u:\n", now);
        const std::vector<std::string> lines = DescribeChanges(ports, fresh);
        if (lines.empty()) std::printf("  (addresses moved and back; the ports look the same)\n");
        for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
        std::fflush(stdout);
        ports = std::move(fresh);
    }
    return kExitOk;
}

int RunVpn(const Options& options) {
    Session session(options);
    if (session.manager() == nullptr) return kExitFailed;
    ILinkSetManager& manager = *session.manager();
    if (manager.OpenVPNDetector(1) != LS_OK) {
        std::fprintf(stderr, "linkset: VPN detection could not be opened\n");
        return kExitFailed;
    }
    // The detector's plug-ins look at the system on the cycle's adapter ticks.
    std::fprintf(stderr, "running VPN detection for %u s...\n", options.waitSeconds);
    if (!PauseUnlessInterrupted(options.waitSeconds * 1000)) return kExitFailed;

    uint32_t count = 0, needed = 0;
    manager.GetVPNDetectionResult(nullptr, 0, &count, &needed);
    std::vector<uint32_t> connected(needed);
    count = needed;
    manager.GetVPNDetectionResult(connected.data(), static_cast<uint32_t>(connected.size() * 4), &count, &needed);
    connected.resize(count);
    std::printf("connected: %s\n", connected.empty() ? "none" : "");
    for (uint32_t type : connected) std::printf("  %s\n", PluginNameOf(type));
    for (const PluginName& plugin : kPlugins) {
        uint32_t status = 0;
        const int32_t result = manager.CheckVPNStatus(plugin.type, &status);
        std::printf("  %-12s %s\n", plugin.name, StatusText(result, status).c_str());
    }
    uint32_t any = 0;
    std::printf("any VPN: %s\n", StatusText(manager.CheckVPNStatus(PLUGIN_ALL, &any), any).c_str());
    manager.OpenVPNDetector(0);
    return kExitOk;
}

int RunVersion(const Options&) {
    const unsigned long version = LsGetVersion();
    const bool accepted = LsIsGoodVersion(LINKSET_INTERFACE_VERSION) == 1;
    std::printf("LinkSet interface version 0x%08lx (%lu.%lu.%lu.%lu)\n", version, version >> 24, (version >> 16) & 0xFF,
                (version >> 8) & 0xFF, version & 0xFF);
    std::printf("this host was built for 0x%08lx: %s\n", static_cast<unsigned long>(LINKSET_INTERFACE_VERSION),
                accepted ? "accepted" : "refused");
    return accepted ? kExitOk : kExitFailed;
}
