// The manager a host holds: the list of known ports, kept current by a maintenance thread, and
// VPN detection on request.
//
// Locks, always taken in this order:
//   m_vpnLock     around every use of m_pVPNDetector (slots 5 to 8, and Update in a tick);
//   the detector's own lock, taken inside the detector's operations;
//   m_portLock    only while m_ports is read or changed: GetPorts (also when a plug-in calls it
//                 back from inside the detector) and the discovery passes' merges. No system
//                 library is called with it held and nothing else is taken under it, so it is
//                 always last and the order cannot invert.
#pragma once

#include <linkset/manager.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "boundary/locks.h"
#include "manager/adapter_discovery.h"
#include "manager/pass_schedule.h"
#include "manager/port_list.h"
#include "manager/record_scratch.h"
#include "vpn/plugin_catalog.h"

class CIpHelperAPI;
class GenericThread;
class IVPNDetector;
struct GenericThreadContext;

// The process-wide tick count: a second manager in the same process continues the first's count.
extern std::atomic<int32_t> g_refreshTick;

// Counts the managers alive in the process for as long as it lives.
class LiveManager {
public:
    LiveManager() { ++s_count; }
    ~LiveManager() { --s_count; }
    LiveManager(const LiveManager&) = delete;
    LiveManager& operator=(const LiveManager&) = delete;
    static bool Alone() { return s_count == 1; }

private:
    static inline std::atomic<int32_t> s_count{0};
};

// Not final: the address queries reach the port list through slot 1 of the object's table, so a
// host or plug-in that replaces that slot is honoured.
class CLinkSetManager : public ILinkSetManager {
public:
    // Without the maintenance thread, a test drives the cycle by calling Refresh itself.
    enum class Start { WithMaintenanceThread, WithoutMaintenanceThread };

    // Throws CQndException* when the maintenance thread cannot be started. VPN detection builds
    // its plug-ins from `plugIns`.
    explicit CLinkSetManager(Start start = Start::WithMaintenanceThread,
                             PlugInCatalog plugIns = BuiltInPlugInClasses());
    ~CLinkSetManager();

    void* DeletingDestructor(unsigned int flags) override;
    int32_t GetPorts(PORT_INFO* buffer, uint32_t bufferBytes, uint32_t* copied, uint32_t* total,
                     int32_t filter) override;
    int32_t GetGateways(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) override;
    int32_t GetDnsServers(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) override;
    int32_t GetWinsServers(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) override;
    int32_t OpenVPNDetector(int32_t open) override;
    int32_t IsVPNDetectorOpen() override;
    int32_t GetVPNDetectionResult(uint32_t* types, uint32_t bufferBytes, uint32_t* count, uint32_t* needed) override;
    int32_t CheckVPNStatus(EPLUGINTYPE type, uint32_t* status) override;
    uint32_t GetChangeCount() override;

    // One tick of the cycle: the adapter pass every tenth tick, the phone-book pass every
    // 3600th or after a change.
    void Refresh();

private:
    friend class ManagerProbe;  // tests and benchmarks seed the port list directly

    // Writes a record's values for one address query to `out` (when not null); answers how many.
    using AddressReader = uint32_t (*)(const PORT_INFO& port, uint32_t* out);

    int Initialize(Start start);
    void Shutdown();
    static void MaintenanceThreadProc(GenericThreadContext* context, void* manager);
    void RunTicks(GenericThreadContext& context);
    void RefreshAdapters();
    void RefreshDialUp();
    void UpdateVpnDetector();
    int32_t QueryAddresses(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count, AddressReader reader);
    int32_t OpenOrCloseVpnDetector(int32_t open);
    void CloseVpnDetector();

    LiveManager m_live;  // first, so that a failed start still counts down
    std::unique_ptr<CIpHelperAPI> m_pIpHelper;
    CCoreRtCriticalSectionEx m_vpnLock;
    CCoreRtCriticalSectionEx m_portLock;
    std::unique_ptr<IVPNDetector> m_pVPNDetector;
    uint32_t m_isWindows2000 = 0;
    uint32_t m_addressSum = 1;
    uint32_t m_portsChanged = 1;
    PortList m_ports;
    std::atomic<uint32_t> m_changeCount{0};
    std::unique_ptr<GenericThread> m_pMaintenanceThread;
    PlugInCatalog m_plugIns;
    PassSchedule m_adapterSchedule;
    PassSchedule m_phoneBookSchedule;
    RecordScratch m_queryRecords;  // the address queries' snapshot of the first addressed ports
    bool m_tickFailureReported = false;
};
