// Check Point's SecuRemote client keeps "ClientConnected" current while it runs.
#include "vpn/registry_traces.h"
#include "vpn/trace_plugins.h"

namespace {

constexpr char kClientKey[] = "SOFTWARE\\CheckPoint\\SecuRemote";
constexpr char kConnectedValue[] = "ClientConnected";
constexpr DWORD kConnected = 1;

}  // namespace

CCheckpointVPNPlugIn::CCheckpointVPNPlugIn() : CTracePlugIn(PLUGIN_CHECKPOINT) {}

std::optional<bool> CCheckpointVPNPlugIn::ReadTraces() {
    DWORD connected = 0;
    return RegQueryDword(HKEY_LOCAL_MACHINE, kClientKey, kConnectedValue, &connected) == kRegTraceFound &&
           connected == kConnected;
}
