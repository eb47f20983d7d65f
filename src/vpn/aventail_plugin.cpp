// Aventail Connect writes its tunnel "State" while it runs; a client that has not written one
// yet is judged by its service and its two processes.
#include "system/system_facts.h"
#include "vpn/registry_traces.h"
#include "vpn/trace_plugins.h"

namespace {

constexpr char kParametersKey[] = "SOFTWARE\\Aventail\\Connect\\System\\Parameters";
constexpr char kStateValue[] = "State";
constexpr DWORD kStateConnected = 1;
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ngvpnmgr";
constexpr char kManagerProcess[] = "ngvpnmgr.exe";
constexpr char kMonitorProcess[] = "ngmonitor.exe";

bool ProcessRuns(const char* name) {
    DWORD processId = 0;
    return FindProcessByName(name, &processId);
}

}  // namespace

CAventailVPNPlugIn::CAventailVPNPlugIn() : CTracePlugIn(PLUGIN_AVENTAIL) {}

std::optional<bool> CAventailVPNPlugIn::ReadTraces() {
    // Cleared first: a four-byte "State" of another type still lands here and is what decides
    // when the client's service is not there either.
    DWORD state = 0;
    if (RegQueryDword(HKEY_LOCAL_MACHINE, kParametersKey, kStateValue, &state) == kRegTraceFound)
        return state == kStateConnected;
    if (RegKeyExists(HKEY_LOCAL_MACHINE, kServiceKey) == kRegTraceFound)
        return ProcessRuns(kManagerProcess) && ProcessRuns(kMonitorProcess);
    return state == kStateConnected;
}
