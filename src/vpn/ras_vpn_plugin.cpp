// VPN connections that Windows dials through Remote Access. The dial-up discovery marks the
// ports on a VPN device; this plug-in takes the first of them from the manager's own list.
#include <linkset/port_info.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "vpn/client_plugins.h"

namespace {

// The count starts where a scan is due, so the first Update rescans, then every fifth.
constexpr uint32_t kUpdatesPerScan = 5;
constexpr uint32_t kFirstUpdateAfterScan = 1;
constexpr uint32_t kVpnDevice = 1;

// A record's text field, which fills its whole array when it has no terminator.
template <std::size_t N>
outputstr FieldText(const char (&field)[N]) {
    char text[N + 1] = {};
    std::memcpy(text, field, N);
    return outputstr(text);
}

}  // namespace

CRasVpnPlugIn::CRasVpnPlugIn(ILinkSetManager* manager) : m_updateCount(kUpdatesPerScan), m_manager(manager) {
    ScanRasVpnPort();
}

int32_t CRasVpnPlugIn::GetName(outputstr* text) { return AnswerPlugInText(text, m_name); }

int32_t CRasVpnPlugIn::GetDescription(outputstr* text) { return AnswerPlugInText(text, m_description); }

uint32_t CRasVpnPlugIn::GetType() { return PLUGIN_RAS; }

void CRasVpnPlugIn::Update() {
    if (m_updateCount++ < kUpdatesPerScan) return;
    m_updateCount = kFirstUpdateAfterScan;
    // A connection that was not there when the plug-in was built is left to the next plug-in
    // the detector builds.
    if (m_seen) ScanRasVpnPort();
}

uint32_t CRasVpnPlugIn::IsConnected() { return m_connected; }

void CRasVpnPlugIn::ScanRasVpnPort() {
    if (m_manager == nullptr) return;
    // Lock order: GetPorts takes the manager's port lock, the innermost, from inside the
    // detector's lock; the plug-in holds none of its own.
    uint32_t copied = 0;
    uint32_t total = 0;
    m_manager->GetPorts(nullptr, 0, &copied, &total, PORT_FILTER_ALL);
    if (total == 0) return;
    std::vector<PORT_INFO> ports(total);
    m_manager->GetPorts(ports.data(), static_cast<uint32_t>(ports.size() * sizeof(PORT_INFO)), &copied, &total,
                        PORT_FILTER_ALL);
    const auto end = ports.begin() + std::min<std::size_t>(copied, ports.size());
    const auto vpn = std::find_if(ports.begin(), end, [](const PORT_INFO& port) { return port.IsVpnDevice == kVpnDevice; });
    // A scan that finds none leaves the last answer and texts standing.
    if (vpn == end) return;
    m_name = FieldText(vpn->ConnectionName);
    m_description = FieldText(vpn->Description);
    m_connected = vpn->HasIpAddress;
    m_seen = true;
}
