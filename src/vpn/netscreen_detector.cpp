#include "vpn/netscreen_detector.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>

#include "sources/entry_points.h"
#include "system/handles.h"
#include "vpn/vpn_plugin.h"

namespace {

// Room for the system directory and the library's name behind it; the system adds ".dll".
constexpr std::size_t kSystemPathBytes = 272;
constexpr char kEventLibrary[] = "\\cmondll";
constexpr char kFilter[] = "*";
// What the event library is handed when we register and unregister; the numbers mean
// something to it alone.
constexpr uint32_t kRegisteredEventClasses = 3;
constexpr uint32_t kUnregisteredEventClasses = 31;
constexpr uint32_t kTunnelUpEvent = 1;
constexpr uint32_t kLowestEventApiVersion = 1;
constexpr uint32_t kEventHandled = 1;
constexpr uint32_t kEventIgnored = 0;

constexpr char kMonitorService[] = "IPSECMON";
constexpr char kIkeService[] = "IREIKE";
constexpr char kLogoffEvent[] = "crypt32LogoffEvent";

using IkeCallback = uint32_t (*)(uint32_t code);
using RegisterForIKEEvent = uint32_t (*)(IkeCallback callback, uint32_t classes, const char* filter);
using UnRegisterFromIKEEvent = uint32_t (*)(uint32_t classes, const char* filter);
using GetEventAPIVersion = uint32_t (*)(uint32_t* version, uint32_t* revision);

// Builds of the library differ in how they export: by the names of its 32-bit compiler's
// stdcall decoration or plainly. Each entry point is looked for under both, in that order.
enum CmonEntryPoint { kRegister, kUnregister, kVersion, kCmonEntryPoints };
constexpr const char* kCmonNames[kCmonEntryPoints][2] = {
    {"_RegisterForIKEEvent@12", "RegisterForIKEEvent"},
    {"_UnRegisterFromIKEEvent@8", "UnRegisterFromIKEEvent"},
    {"_GetEventAPIVersion@8", "GetEventAPIVersion"},
};

constexpr char kFreedText[] = "cmondll.dll is freed and destroyed\n";
constexpr char kNotFreedText[] = "Failed to free cmondll.dll\n";

// Owns the event library for the process. Built when LinkSet.dll is loaded, so it is destroyed
// after the detector, which is built on first use: the detector unregisters before the library
// goes. Its destructor, FreeCmonDll, tells the debugger, not the host's log: the host may have
// let go of its log by then.
struct CmonDll {
    ~CmonDll() {
        if (module) OutputDebugStringA(FreeLibrary(module.release()) ? kFreedText : kNotFreedText);
    }
    UniqueModule module;
};

CmonDll g_cmonDll;
void* g_cmonEntryPoints[kCmonEntryPoints] = {};
// The event library calls OnIKEEvent on a thread of its own, and detectors of several managers
// read these flags: single words, read and written whole.
std::atomic<uint32_t> g_unavailable{0};
std::atomic<uint32_t> g_registered{0};
std::atomic<uint32_t> g_tunnelUp{0};

template <class Function>
Function CmonEntryPointAs(CmonEntryPoint which) {
    return reinterpret_cast<Function>(g_cmonEntryPoints[which]);
}

uint32_t OnIKEEvent(uint32_t code) {
    const bool up = code == kTunnelUpEvent;
    g_tunnelUp = up ? kTunnelUp : kTunnelDown;
    return up ? kEventHandled : kEventIgnored;
}

// All three or the first that is missing under both names, after which nothing more is looked up.
bool ResolveCmonEntryPoints(HMODULE module) {
    for (std::size_t which = 0; which < kCmonEntryPoints; ++which) {
        void* found = nullptr;
        for (const char* name : kCmonNames[which])
            if (!found) found = ResolveEntryPoint<void*>(module, name);
        g_cmonEntryPoints[which] = found;
        if (!found) return false;
    }
    return true;
}

bool BindAndRegister(HMODULE module, const char* filter) {
    if (!ResolveCmonEntryPoints(module)) return false;
    uint32_t version = 0;
    uint32_t revision = 0;
    CmonEntryPointAs<GetEventAPIVersion>(kVersion)(&version, &revision);
    if (version < kLowestEventApiVersion) return false;
    return CmonEntryPointAs<RegisterForIKEEvent>(kRegister)(&OnIKEEvent, kRegisteredEventClasses, filter) != 0;
}

// 1 when our callback is registered. A failure after the library loaded leaves the binding
// unavailable, and the library freed, for good.
uint32_t RegisterIKEEvents(const char* filter) {
    char path[kSystemPathBytes];
    const UINT length = GetSystemDirectoryA(path, sizeof path);
    // Without the directory nothing was tried, so a later attempt may still succeed.
    if (length == 0 || length + sizeof kEventLibrary > sizeof path) return 0;
    std::memcpy(path + length, kEventLibrary, sizeof kEventLibrary);
    g_cmonDll.module.reset(LoadLibraryA(path));
    if (g_cmonDll.module && BindAndRegister(g_cmonDll.module.get(), filter)) {
        g_unavailable = 0;
        return 1;
    }
    std::fill(std::begin(g_cmonEntryPoints), std::end(g_cmonEntryPoints), nullptr);
    g_registered = 0;
    g_unavailable = 1;
    g_cmonDll.module.reset();
    return 0;
}

bool IsLogoffEventSignalled() {
    const UniqueHandle event(OpenEventA(SYNCHRONIZE, FALSE, kLogoffEvent));
    return event && WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
}

// The service functions are taken from advapi32 as the process has it, by name, so that a
// system without them (or without the module) only answers kServiceApiMissing.
constexpr char kServiceModule[] = "ADVAPI32";
enum ServiceEntryPoint { kOpenManager, kOpenService, kQueryStatus, kCloseHandle, kServiceEntryPoints };
constexpr const char* kServiceNames[kServiceEntryPoints] = {"OpenSCManagerA", "OpenServiceA",
                                                            "QueryServiceStatus", "CloseServiceHandle"};

}  // namespace

CNetScreenVPNDetector::CNetScreenVPNDetector() : m_filter(), m_countdown(kDetectsBeforeLoad) {
    g_tunnelUp = 0;
    std::memcpy(m_filter, kFilter, sizeof kFilter);
}

CNetScreenVPNDetector::~CNetScreenVPNDetector() {
    if (const auto unregister = CmonEntryPointAs<UnRegisterFromIKEEvent>(kUnregister))
        unregister(kUnregisteredEventClasses, m_filter);
    g_unavailable = 0;
}

uint32_t CNetScreenVPNDetector::IsConnected() { return g_registered ? g_tunnelUp.load() : kTunnelDown; }

uint32_t CNetScreenVPNDetector::Detect() {
    CCoreRtAutoLock guard(&m_lock);
    const auto attempt = [this] { return g_registered = RegisterIKEEvents(m_filter); };
    if (g_unavailable) return kClientAbsent;
    if (g_registered) return kClientDetected;
    if (m_countdown > 0)
        --m_countdown;
    else if (attempt())
        return kClientDetected;
    // The services are asked even when the attempt above has just failed, the second only
    // when the first runs.
    if (IsServiceRunning(kMonitorService) == kServiceRunning && IsServiceRunning(kIkeService) == kServiceRunning)
        attempt();
    if (g_registered) return kClientDetected;
    if (IsLogoffEventSignalled()) attempt();
    return g_registered ? kClientDetected : kClientAbsent;
}

CNetScreenVPNDetector* GetNetScreenDetector() {
    // The maintenance threads of several managers may ask first at once: the construction is
    // theirs in turn.
    static std::atomic_flag constructing = ATOMIC_FLAG_INIT;
    while (constructing.test_and_set(std::memory_order_acquire)) Sleep(0);
    static CNetScreenVPNDetector detector;
    constructing.clear(std::memory_order_release);
    return &detector;
}

int32_t IsServiceRunning(const char* name) {
    if (name == nullptr) return kServiceNotRunning;
    const HMODULE advapi = GetModuleHandleA(kServiceModule);
    void* entryPoints[kServiceEntryPoints] = {};
    if (advapi == nullptr || !ResolveEntryPoints(advapi, kServiceNames, entryPoints)) return kServiceApiMissing;
    const auto openManager = reinterpret_cast<decltype(&OpenSCManagerA)>(entryPoints[kOpenManager]);
    const auto openService = reinterpret_cast<decltype(&OpenServiceA)>(entryPoints[kOpenService]);
    const auto queryStatus = reinterpret_cast<decltype(&QueryServiceStatus)>(entryPoints[kQueryStatus]);
    using OwnedService = std::unique_ptr<SC_HANDLE__, decltype(&CloseServiceHandle)>;
    const auto closeHandle = reinterpret_cast<decltype(&CloseServiceHandle)>(entryPoints[kCloseHandle]);

    const OwnedService manager(openManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), closeHandle);
    if (!manager) return kServiceNotRunning;
    const OwnedService service(openService(manager.get(), name, SERVICE_QUERY_STATUS), closeHandle);
    SERVICE_STATUS status = {};
    if (!service || !queryStatus(service.get(), &status)) return kServiceNotRunning;
    return status.dwCurrentState == SERVICE_RUNNING ? kServiceRunning : kServiceNotRunning;
}
