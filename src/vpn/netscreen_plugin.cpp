// The NetScreen client: all the work is the process's NetScreen detector's.
#include "vpn/client_plugins.h"

namespace {

constexpr char kDisplayName[] = "NETSCREEN VPN Client";

}  // namespace

CNetScreenVPNPlugIn::CNetScreenVPNPlugIn() : m_detector(GetNetScreenDetector()) {}

int32_t CNetScreenVPNPlugIn::GetName(outputstr* text) { return AnswerPlugInText(text, outputstr(kDisplayName)); }

int32_t CNetScreenVPNPlugIn::GetDescription(outputstr* text) { return GetName(text); }

uint32_t CNetScreenVPNPlugIn::GetType() { return PLUGIN_NETSCREEN; }

void CNetScreenVPNPlugIn::Update() {
    // Whether the client is there matters to nobody: the answer is the tunnel's.
    if (m_detector != nullptr) m_detector->Detect();
}

uint32_t CNetScreenVPNPlugIn::IsConnected() { return m_detector != nullptr ? m_detector->IsConnected() : kTunnelDown; }
