// VPN clients' registry traces (Juniper's in the 32-bit view) and the tunnel values three of them keep.
#pragma once

#include "registry_scenario.h"

inline constexpr char kCiscoKey[] = "SOFTWARE\\Cisco Systems\\VPN Client";
inline constexpr char kCheckpointKey[] = "SOFTWARE\\CheckPoint\\SecuRemote";
inline constexpr char kAventailKey[] = "SOFTWARE\\Aventail\\Connect\\System\\Parameters";
inline constexpr char kAventailServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ngvpnmgr";
inline constexpr char kJuniperKey32BitView[] = "SOFTWARE\\Wow6432Node\\Juniper networks\\Network Connect";

inline void SetTunnelValues(RegistryScenario& registry, DWORD cisco, DWORD checkpoint, DWORD aventail) {
    registry.SetDword(kCiscoKey, "TunnelEstablished", cisco);
    registry.SetDword(kCheckpointKey, "ClientConnected", checkpoint);
    registry.SetDword(kAventailKey, "State", aventail);
}
