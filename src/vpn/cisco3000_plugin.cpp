// Cisco's VPN Client 3000 keeps "TunnelEstablished" current while it runs.
#include "boundary/debug_output.h"
#include "system/system_facts.h"
#include "vpn/registry_traces.h"
#include "vpn/trace_plugins.h"

namespace {

constexpr char kNtDriverKey[] = "SYSTEM\\CurrentControlSet\\Services\\CVPNDRV";
constexpr char k9xDriverKey[] = "System\\CurrentControlSet\\Services\\VxD\\CVPNDrv";
constexpr char kClientKey[] = "SOFTWARE\\Cisco Systems\\VPN Client";
constexpr char kTunnelValue[] = "TunnelEstablished";
constexpr DWORD kTunnelUpValue = 1;
constexpr DWORD kTunnelDownValue = 0;

}  // namespace

CCisco3000VPNPlugIn::CCisco3000VPNPlugIn() : CTracePlugIn(PLUGIN_CISCO3000) {
    // The driver is a service on the NT family and a VxD on Windows 9x.
    const char* driverKey = IsWindowsNT() ? kNtDriverKey : k9xDriverKey;
    if (RegKeyExists(HKEY_LOCAL_MACHINE, driverKey) == kRegTraceFound)
        WriteDebugLine("<CCisco3000VPNPlugIn>: Cisco3000 vpn client installation detected.");
}

std::optional<bool> CCisco3000VPNPlugIn::ReadTraces() {
    DWORD tunnel = 0;
    if (RegQueryDword(HKEY_LOCAL_MACHINE, kClientKey, kTunnelValue, &tunnel) != kRegTraceFound) return std::nullopt;
    // Only 1 and 0 are answers; a missing value or any other number keeps the last one.
    if (tunnel == kTunnelUpValue) return true;
    if (tunnel == kTunnelDownValue) return false;
    return std::nullopt;
}
