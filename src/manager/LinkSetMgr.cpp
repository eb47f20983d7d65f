#include "manager/LinkSetMgr.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <new>

#include "boundary/debug_output.h"
#include "boundary/exception.h"
#include "boundary/host_exception.h"
#include "boundary/host_object.h"
#include "boundary/outputstr.h"
#include "manager/dialup_discovery.h"
#include "manager/port_info.h"
#include "sources/ip_helper.h"
#include "sources/miniras.h"
#include "system/generic_thread.h"
#include "system/system_facts.h"
#include "vpn/vpn_config.h"
#include "vpn/vpn_detector.h"

std::atomic<int32_t> g_refreshTick{0};

namespace {

constexpr DWORD kTickWaitMs = 500;
constexpr int32_t kAdapterPeriod = 10;
constexpr int32_t kDialUpPeriod = 3600;
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kStopTimeoutMs = 30000;
// The address queries look at this many addressed ports at most.
constexpr uint32_t kAddressQueryPorts = 32;

constexpr const char* kThreadStartFailure = "<LinkSetMgr>:: failed to start maintenance thread.";
constexpr const char* kThreadSource = ".\\LinkSetMgr";
constexpr int kThreadSourceLine = 184;

bool PassesFilter(const PORT_INFO& port, int32_t filter) {
    switch (filter) {
        case PORT_FILTER_HAS_ADDRESS:
            return port.HasIpAddress != 0;
        case PORT_FILTER_HAS_GATEWAY:
            return port.HasGateway != 0;
        default:
            return true;
    }
}

uint32_t ServerAddresses(const PORT_ADDRESS* servers, uint32_t count, uint32_t* out) {
    count = std::min<uint32_t>(count, PORT_INFO_MAX_ADDRESSES);
    if (out != nullptr)
        for (uint32_t i = 0; i < count; ++i) out[i] = servers[i].Address;
    return count;
}

uint32_t GatewayOf(const PORT_INFO& port, uint32_t* out) {
    if (out != nullptr) *out = port.Gateway;  // also 0: one value per addressed port
    return 1;
}
uint32_t DnsServersOf(const PORT_INFO& port, uint32_t* out) {
    return ServerAddresses(port.DnsServers, port.DnsServerCount, out);
}
uint32_t WinsServersOf(const PORT_INFO& port, uint32_t* out) {
    return ServerAddresses(port.WinsServers, port.WinsServerCount, out);
}

RasConnLayout LayoutFor(uint32_t isWindows2000) {
    return isWindows2000 ? RasConnLayout::Windows2000 : RasConnLayout::Other;
}

void ReportException(CQndException* exception) {
    if (exception == nullptr) return;
    WriteDebugLine(exception->GetErrorText());
    exception->Delete();
}

}  // namespace

CLinkSetManager::CLinkSetManager(Start start, PlugInCatalog plugIns)
    : m_plugIns(plugIns),
      m_adapterSchedule(kAdapterPeriod),
      m_phoneBookSchedule(kDialUpPeriod),
      m_queryRecords(kAddressQueryPorts) {
    Initialize(start);
}

CLinkSetManager::~CLinkSetManager() { Shutdown(); }

void* CLinkSetManager::DeletingDestructor(unsigned int flags) { return DestroyHostObject(this, flags); }

int CLinkSetManager::Initialize(Start start) {
    m_isWindows2000 = IsWindows2000() ? 1 : 0;
    m_portsChanged = 1;
    m_addressSum = 1;
    m_changeCount = 0;

    m_pIpHelper.reset(new (std::nothrow) CIpHelperAPI);
    if (!m_pIpHelper) return LS_ERROR_FAILED;
    if (start == Start::WithoutMaintenanceThread) return LS_OK;

    m_pMaintenanceThread.reset(new (std::nothrow) GenericThread(&MaintenanceThreadProc, this));
    if (m_pMaintenanceThread && m_pMaintenanceThread->StartThread(kStartTimeoutMs) == LS_OK) return LS_OK;
    // StartThread has already written the line that names the cause. The members built so far
    // are released as the exception leaves the constructor.
    throw CreateQndException(outputstr(kThreadStartFailure), kThreadSource, kThreadSourceLine);
}

void CLinkSetManager::Shutdown() {
    bool terminated = false;
    if (m_pMaintenanceThread) {
        terminated = m_pMaintenanceThread->StopThread(kStopTimeoutMs) == LS_ERROR_THREAD_TERMINATED;
        m_pMaintenanceThread.reset();
    }
    m_pIpHelper.reset();
    if (terminated) {
        // The thread died inside a tick and may have held any of our locks, the detector's or a
        // plug-in's: taking them would wait forever. No other thread can reach this manager any
        // more, so the list is emptied without its lock, and the detector, whose state the dead
        // thread may have left half changed, is abandoned rather than destroyed.
        static_cast<void>(m_pVPNDetector.release());
        m_ports.clear();
    } else {
        CloseVpnDetector();
        CCoreRtAutoLock guard(&m_portLock);
        PurgePorts(m_ports, PurgeMode::All);
    }
    MiniRasUnload();  // the standing reference of the Remote Access binding
}

void CLinkSetManager::MaintenanceThreadProc(GenericThreadContext* context, void* manager) {
    // A start that never hears the thread runs fails, and the manager goes with it: a thread
    // that cannot say so has nothing to tick for, and ends at once rather than wait to be
    // terminated.
    if (context->hRunning != nullptr && !SetEvent(context->hRunning)) return;
    try {
        static_cast<CLinkSetManager*>(manager)->RunTicks(*context);
    } catch (CQndException* exception) {
        ReportException(exception);
    }
}

void CLinkSetManager::RunTicks(GenericThreadContext& context) {
    while (WaitForSingleObjectEx(context.hToStop, kTickWaitMs, FALSE) == WAIT_TIMEOUT) {
        try {
            Refresh();
            m_tickFailureReported = false;
        } catch (CQndException* exception) {
            ReportException(exception);
        } catch (...) {
            // Anything else (an allocation failure, say) would end the host's process if it left
            // this thread. The tick is given up and the cycle goes on; a failure that repeats on
            // every tick is reported once, not twice a second.
            if (!m_tickFailureReported) {
                WriteDebugLine("<LinkSetMgr>: maintenance tick failed; the cycle goes on.");
                m_tickFailureReported = true;
            }
        }
    }
}

void CLinkSetManager::Refresh() {
    const int32_t tick = ++g_refreshTick;
    const bool otherManagersLive = !LiveManager::Alone();
    if (m_adapterSchedule.Due(tick, otherManagersLive)) {
        RefreshAdapters();
        if (m_portsChanged) ++m_changeCount;
        UpdateVpnDetector();
    }
    if (m_phoneBookSchedule.Due(tick, otherManagersLive) || m_portsChanged) {
        RefreshDialUp();
        m_portsChanged = 0;
        m_phoneBookSchedule.Ran();
    }
}

void CLinkSetManager::RefreshAdapters() {
    // Every system call happens here, outside the lock; the host sees the old or the new set.
    AdapterPass pass = DiscoverAdapters(*m_pIpHelper, LayoutFor(m_isWindows2000));
    CCoreRtAutoLock guard(&m_portLock);
    m_portsChanged = MergeAdapterPorts(m_ports, m_addressSum, std::move(pass)) ? 1 : 0;
}

void CLinkSetManager::RefreshDialUp() { RefreshDialUpEntries(m_ports, m_portLock, LayoutFor(m_isWindows2000)); }

void CLinkSetManager::UpdateVpnDetector() {
    CCoreRtAutoLock guard(&m_vpnLock);
    if (m_pVPNDetector) m_pVPNDetector->Update();
}

int32_t CLinkSetManager::GetPorts(PORT_INFO* buffer, uint32_t bufferBytes, uint32_t* copied, uint32_t* total,
                                  int32_t filter) {
    if (copied == nullptr || total == nullptr) return LS_ERROR_FAILED;
    *total = 0;
    *copied = 0;
    const uint32_t capacity = bufferBytes / sizeof(PORT_INFO);
    CCoreRtAutoLock guard(&m_portLock);
    for (const std::unique_ptr<PORT_INFO>& port : m_ports) {
        if (!PassesFilter(*port, filter)) continue;
        if (*total < capacity) {
            CopyPortInfo(buffer[*total], *port);
            *copied = *total + 1;
        }
        ++*total;
    }
    return LS_OK;
}

int32_t CLinkSetManager::QueryAddresses(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count,
                                        AddressReader reader) {
    // One snapshot through slot 1 of the object's table, as a host would take it; no lock of our
    // own is needed.
    const RecordScratch::Lease lease = m_queryRecords.Take();
    const PORT_INFO* ports = lease.get();
    uint32_t copied = 0, total = 0;
    ILinkSetManager& self = *this;
    if (self.GetPorts(lease.get(), kAddressQueryPorts * sizeof(PORT_INFO), &copied, &total, PORT_FILTER_HAS_ADDRESS) !=
        LS_OK)
        return LS_ERROR_FAILED;

    uint32_t needed = 0;
    for (uint32_t i = 0; i < copied; ++i) needed += reader(ports[i], nullptr);
    if (count != nullptr) *count = needed;
    if (addresses == nullptr || bufferBytes / sizeof(uint32_t) < needed) return LS_ERROR_BUFFER_TOO_SMALL;
    for (uint32_t i = 0, written = 0; i < copied; ++i) written += reader(ports[i], addresses + written);
    return LS_OK;
}

// The slots that may allocate run as host calls, so that an allocation failure reaches the host
// as its own compiler's std::bad_alloc. GetPorts, IsVPNDetectorOpen and GetChangeCount only read
// what is there; GetPorts is also called from inside the library, by plug-ins on the
// maintenance thread, where nothing could take such a failure.
int32_t CLinkSetManager::GetGateways(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) {
    return HostCall([&] { return QueryAddresses(addresses, bufferBytes, count, &GatewayOf); });
}

int32_t CLinkSetManager::GetDnsServers(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) {
    return HostCall([&] { return QueryAddresses(addresses, bufferBytes, count, &DnsServersOf); });
}

int32_t CLinkSetManager::GetWinsServers(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) {
    return HostCall([&] { return QueryAddresses(addresses, bufferBytes, count, &WinsServersOf); });
}

void CLinkSetManager::CloseVpnDetector() {
    CCoreRtAutoLock guard(&m_vpnLock);
    m_pVPNDetector.reset();
}

int32_t CLinkSetManager::OpenVPNDetector(int32_t open) {
    return HostCall([&] { return OpenOrCloseVpnDetector(open); });
}

int32_t CLinkSetManager::OpenOrCloseVpnDetector(int32_t open) {
    if (open == 0) {
        CloseVpnDetector();
        return LS_OK;
    }
    CCoreRtAutoLock guard(&m_vpnLock);
    if (m_pVPNDetector) return LS_OK;

    std::unique_ptr<IVPNDetector> detector(new (std::nothrow) CVPNDetector(this, m_plugIns));
    const std::unique_ptr<CVPNConfig> config(new (std::nothrow) CVPNConfig);
    if (!detector || !config) {
        WriteDebugLine("<LinkSetMgr>: Linkset: failed to create linkset/config.");
        return LS_ERROR_FAILED;
    }
    config->EnablePlugIn(PLUGIN_ALL, true);
    if (detector->SetConfig(config.get()) != 0) {
        WriteDebugLine("<LinkSetMgr>: LINKSET: failed to set Config for VPN Detector");
        return LS_ERROR_FAILED;
    }
    m_pVPNDetector = std::move(detector);  // the detector keeps its own copy of the configuration
    return LS_OK;
}

int32_t CLinkSetManager::IsVPNDetectorOpen() {
    CCoreRtAutoLock guard(&m_vpnLock);
    return m_pVPNDetector ? 1 : 0;
}

int32_t CLinkSetManager::GetVPNDetectionResult(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                                               uint32_t* needed) {
    return HostCall([&] {
        CCoreRtAutoLock guard(&m_vpnLock);
        // The detector writes both counts: a host that gives it nowhere to write them is refused.
        if (m_pVPNDetector && (count == nullptr || needed == nullptr)) return static_cast<int32_t>(LS_ERROR_FAILED);
        if (m_pVPNDetector) return m_pVPNDetector->GetConnectedPlugIns(types, bufferBytes, count, needed);
        WriteDebugLine("<LinkSetMgr>: LINKSET(ERROR): failed to get VPN detection result before opening it.");
        return static_cast<int32_t>(LS_ERROR_FAILED);
    });
}

int32_t CLinkSetManager::CheckVPNStatus(EPLUGINTYPE type, uint32_t* status) {
    return HostCall([&] {
        CCoreRtAutoLock guard(&m_vpnLock);
        if (m_pVPNDetector && status == nullptr) return static_cast<int32_t>(LS_ERROR_FAILED);
        if (m_pVPNDetector) return m_pVPNDetector->GetPlugInStatus(type, status);
        WriteDebugLine("<LinkSetMgr>: LINKSET(ERROR): failed to check VPN status if it is not initialized.");
        return static_cast<int32_t>(LS_ERROR_FAILED);
    });
}

uint32_t CLinkSetManager::GetChangeCount() { return m_changeCount.load(std::memory_order_relaxed); }
