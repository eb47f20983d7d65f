// Juniper's Network Connect brings up a virtual adapter of its own; the tunnel is up while that
// adapter holds an IPv4 address, which the manager's port list tells.
#include <algorithm>
#include <cstring>

#include "system/system_facts.h"
#include "vpn/registry_traces.h"
#include "vpn/trace_plugins.h"

namespace {

constexpr char kClientKey[] = "SOFTWARE\\Juniper networks\\Network Connect";
constexpr char kClientKeyOn64BitSystem[] = "SOFTWARE\\Wow6432Node\\Juniper networks\\Network Connect";
constexpr char kAdapterDescription[] = "Juniper Network Connect Virtual Adapter";
constexpr std::size_t kAdapterDescriptionLength = sizeof kAdapterDescription - 1;

// The adapter's description may carry more behind this text (a number, when there are several).
bool IsTunnelAdapterWithAddress(const PORT_INFO& port) {
    return port.IpAddress != 0 && std::strncmp(port.Description, kAdapterDescription, kAdapterDescriptionLength) == 0;
}

}  // namespace

CJuniperSslVPNPlugIn::CJuniperSslVPNPlugIn(ILinkSetManager* manager)
    : CTracePlugIn(PLUGIN_JUNIPERSSL), m_manager(manager) {}

std::optional<bool> CJuniperSslVPNPlugIn::ReadTraces() {
    // The client is a 32-bit program: on a 64-bit system its key is in the 32-bit view.
    const char* clientKey = Is64BitSystem() ? kClientKeyOn64BitSystem : kClientKey;
    if (RegKeyExists(HKEY_LOCAL_MACHINE, clientKey) != kRegTraceFound || m_manager == nullptr) return false;
    return TunnelAdapterHasAddress();
}

bool CJuniperSslVPNPlugIn::TunnelAdapterHasAddress() {
    // Lock order: GetPorts takes the manager's port lock, the innermost one, from inside the
    // detector's lock.
    uint32_t copied = 0;
    uint32_t total = 0;
    m_manager->GetPorts(m_ports.data(), static_cast<uint32_t>(sizeof m_ports), &copied, &total, PORT_FILTER_ALL);
    const auto end = m_ports.begin() + std::min<std::size_t>(copied, m_ports.size());
    return std::any_of(m_ports.begin(), end, IsTunnelAdapterWithAddress);
}
