// For tests and benchmarks: seeds a manager's ports, runs single ticks without its thread, reads ports as a host.
#pragma once

#include <cstring>
#include <vector>

#include "machine.h"
#include "manager/LinkSetMgr.h"
#include "sources/ip_helper.h"

class ManagerProbe {
public:
    explicit ManagerProbe(CLinkSetManager& manager) : m_manager(manager) {}
    void SetPorts(const std::vector<PORT_INFO>& ports) {
        CCoreRtAutoLock guard(&m_manager.m_portLock);
        m_manager.m_ports.clear();
        for (const PORT_INFO& port : ports) m_manager.m_ports.push_back(std::make_unique<PORT_INFO>(port));
    }
    void Tick(int32_t tick) {  // as the process's tick `tick`
        g_refreshTick = tick - 1;
        m_manager.Refresh();
    }
    void AdapterPass() {  // an adapter tick's adapter pass and change count, without the phone-book pass
        m_manager.RefreshAdapters();
        if (m_manager.m_portsChanged) ++m_manager.m_changeCount;
    }
    void UnloadIpHelper() { m_manager.m_pIpHelper->Unload(); }

private:
    CLinkSetManager& m_manager;
};

// A made-up machine for the scope, and a manager without the maintenance thread on it.
struct ManagerOnMachine {
    explicit ManagerOnMachine(const Machine& machine) : scope(machine) {}
    MachineScope scope;
    CLinkSetManager manager{CLinkSetManager::Start::WithoutMaintenanceThread};
    ManagerProbe probe{manager};
};

inline std::vector<PORT_INFO> Ports(ILinkSetManager& manager) {  // every record a host receives
    uint32_t copied = 0, total = 0;
    manager.GetPorts(nullptr, 0, &copied, &total, PORT_FILTER_ALL);
    std::vector<PORT_INFO> ports(total);
    manager.GetPorts(ports.data(), static_cast<uint32_t>(total * sizeof(PORT_INFO)), &copied, &total, PORT_FILTER_ALL);
    ports.resize(copied);
    return ports;
}

// A port record as discovery would build one (addresses in network order); a phone-book entry's.
inline PORT_INFO MakePort(uint32_t type, const char* name, uint32_t address, uint32_t gateway = 0) {
    PORT_INFO port = {};
    port.PortType = type;
    port.IsDialUp = type == PORT_TYPE_DIALUP;
    std::strncpy(port.ConnectionName, name, sizeof port.ConnectionName - 1);
    std::strncpy(port.AdapterName, type == PORT_TYPE_DIALUP && !address ? kPhoneBookAdapterName : name, sizeof port.AdapterName - 1);
    port.IpAddress = address;
    port.HasIpAddress = port.IpAddressCount = address != 0;
    port.IpAddresses[0] = {address, address != 0 ? 0x00FFFFFFu : 0};
    port.Gateway = gateway;
    port.HasGateway = gateway != 0;
    return port;
}
