// The SafeNet client in its two generations: the earlier one through the NetScreen detector, the
// later one through its service and the rule library ConAPI.dll that comes with it.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <new>

#include "boundary/debug_output.h"
#include "sources/entry_points.h"
#include "system/handles.h"
#include "vpn/client_plugins.h"

namespace {

constexpr char kDisplayName[] = "SafeNet VPN Client";
constexpr char kService[] = "SOFTREMOTEPM";
constexpr DWORD kConfigFirstReadBytes = 4096;
constexpr std::size_t kPathBytes = MAX_PATH;
constexpr std::size_t kPathLengthLimit = kPathBytes - 1;  // a path this long or longer is refused
constexpr char kConApiInProgramFolder[] = "GUI\\ConAPI.dll";
constexpr std::size_t kConApiInProgramFolderLength = sizeof kConApiInProgramFolder - 1;

// The rule library's session and calls; every call answers kConApiDone on success.
using ConApiHandle = void*;
using ConApiInitialize = int32_t (*)(ConApiHandle* handle);
using ConApiClose = int32_t (*)(ConApiHandle handle);
using ConApiReadRule = int32_t (*)(ConApiHandle handle, void* rule);
using ConApiStartStatServer = int32_t (*)(ConApiHandle handle, int32_t stopping);
constexpr int32_t kConApiDone = 0;
constexpr int32_t kStatServerStart = 0;
constexpr int32_t kStatServerStop = 1;
// A rule record as the library writes it; only the flag of an active tunnel is read.
constexpr std::size_t kRuleBytes = 2576;
constexpr std::size_t kRuleActiveOffset = 256;
constexpr unsigned char kRuleActive = 1;

enum ConApiEntryPoint { kInitialize, kClose, kGetRuleData, kGetNextRuleData, kStartStatServer, kConApiEntryPoints };
constexpr const char* kConApiNames[kConApiEntryPoints] = {"ConAPI_Initialize", "ConAPI_Close", "ConAPI_GetRuleData",
                                                          "ConAPI_GetNextRuleData", "ConAPI_StartStatServer"};

// An open session of the rule library, closed however the reading ends.
class ConApiSession {
public:
    ConApiSession(ConApiHandle handle, ConApiClose close) : m_handle(handle), m_close(close) {}
    ~ConApiSession() { m_close(m_handle); }
    ConApiSession(const ConApiSession&) = delete;
    ConApiSession& operator=(const ConApiSession&) = delete;
    ConApiHandle get() const { return m_handle; }

private:
    ConApiHandle m_handle;
    ConApiClose m_close;
};

// Whether any of the session's rules has its tunnel up. The record is not cleared between
// rules: the library writes each one whole.
bool AnyRuleActive(void* const (&entryPoints)[kConApiEntryPoints], ConApiHandle session) {
    unsigned char rule[kRuleBytes];
    const auto first = reinterpret_cast<ConApiReadRule>(entryPoints[kGetRuleData]);
    const auto next = reinterpret_cast<ConApiReadRule>(entryPoints[kGetNextRuleData]);
    for (int32_t read = first(session, rule); read == kConApiDone; read = next(session, rule))
        if (rule[kRuleActiveOffset] == kRuleActive) return true;
    return false;
}

}  // namespace

int32_t IsSoftRemoteServiceRunning() {
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) return kServiceNotRunning;
    const UniqueServiceHandle service(OpenServiceA(manager.get(), kService, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.get(), &status)) return kServiceNotRunning;
    return status.dwCurrentState == SERVICE_RUNNING ? kServiceRunning : kServiceNotRunning;
}

outputstr GetSoftRemoteBinaryPath() {
    const UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) return outputstr();
    const UniqueServiceHandle service(OpenServiceA(manager.get(), kService, SERVICE_QUERY_CONFIG));
    if (!service) return outputstr();
    // Most configurations fit the first block; a larger one is read again at the size it asks.
    DWORD size = kConfigFirstReadBytes;
    UniqueHeapBlock config = HeapAllocZeroed(size);
    if (!config) return outputstr();
    DWORD needed = 0;
    auto* read = static_cast<QUERY_SERVICE_CONFIGA*>(config.get());
    if (!QueryServiceConfigA(service.get(), read, size, &needed)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return outputstr();
        config.reset();
        size = needed;
        config = HeapAllocZeroed(size);
        read = static_cast<QUERY_SERVICE_CONFIGA*>(config.get());
        if (!config || !QueryServiceConfigA(service.get(), read, size, &needed)) return outputstr();
    }
    return outputstr(read->lpBinaryPathName);
}

outputstr GetConApiPath() {
    const outputstr program = GetSoftRemoteBinaryPath();
    if (program.length == 0 || program.length >= kPathLengthLimit) return outputstr();
    // The path is taken as the configuration stores it: a quoted path or one with arguments
    // gives a folder that does not exist, and so no library.
    char path[kPathBytes];
    std::memcpy(path, program.text, program.length + 1);
    char* lastBackslash = std::strrchr(path, '\\');
    if (lastBackslash == nullptr) return outputstr();
    const std::size_t folderLength = static_cast<std::size_t>(lastBackslash + 1 - path);
    if (folderLength + kConApiInProgramFolderLength >= kPathLengthLimit) return outputstr();
    std::memcpy(lastBackslash + 1, kConApiInProgramFolder, sizeof kConApiInProgramFolder);
    return outputstr(path);
}

uint32_t CSafeNetVPNLaterVersionDetector::Detect() {
    m_connected = kTunnelDown;
    if (IsSoftRemoteServiceRunning() != kServiceRunning) return kClientAbsent;
    const outputstr path = GetConApiPath();
    if (path.length == 0) return kClientAbsent;
    WriteDebugLine(path);
    // Declared before the session, so the session is closed before the library goes.
    const UniqueModule conApi(LoadLibraryA(path.text));
    void* entryPoints[kConApiEntryPoints] = {};
    if (!conApi || !ResolveEntryPoints(conApi.get(), kConApiNames, entryPoints)) return kClientAbsent;
    ConApiHandle handle = nullptr;
    if (reinterpret_cast<ConApiInitialize>(entryPoints[kInitialize])(&handle) != kConApiDone) return kClientAbsent;
    const ConApiSession session(handle, reinterpret_cast<ConApiClose>(entryPoints[kClose]));
    const auto statServer = reinterpret_cast<ConApiStartStatServer>(entryPoints[kStartStatServer]);
    if (statServer(session.get(), kStatServerStart) != kConApiDone) return kClientAbsent;
    if (AnyRuleActive(entryPoints, session.get())) m_connected = kTunnelUp;
    statServer(session.get(), kStatServerStop);
    return kClientDetected;
}

uint32_t CSafeNetVPNLaterVersionDetector::IsConnected() { return m_connected; }

CSafeNetVPNEarlierVersionDetector::CSafeNetVPNEarlierVersionDetector() : m_detector(GetNetScreenDetector()) {}

uint32_t CSafeNetVPNEarlierVersionDetector::Detect() {
    return m_detector != nullptr ? m_detector->Detect() : kClientAbsent;
}

uint32_t CSafeNetVPNEarlierVersionDetector::IsConnected() {
    return m_detector != nullptr ? m_detector->IsConnected() : kTunnelDown;
}

CSafeNetVPNPlugIn::CSafeNetVPNPlugIn() {
    // A generation that cannot be made is left out; the plug-in works with the other.
    m_generations.AddDetector(new (std::nothrow) CSafeNetVPNEarlierVersionDetector);
    m_generations.AddDetector(new (std::nothrow) CSafeNetVPNLaterVersionDetector);
}

int32_t CSafeNetVPNPlugIn::GetName(outputstr* text) { return AnswerPlugInText(text, outputstr(kDisplayName)); }

int32_t CSafeNetVPNPlugIn::GetDescription(outputstr* text) { return GetName(text); }

uint32_t CSafeNetVPNPlugIn::GetType() { return PLUGIN_SAFENET; }

void CSafeNetVPNPlugIn::Update() { m_generations.Update(); }

uint32_t CSafeNetVPNPlugIn::IsConnected() { return m_generations.IsConnected(); }
