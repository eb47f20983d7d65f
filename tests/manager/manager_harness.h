// Reaches into a manager for tests and benchmarks: seeds its port list, runs single ticks of
// its cycle without the maintenance thread, and reads its ports as a host does.
#pragma once

#include <cstring>
#include <vector>

#include "boundary/locks.h"
#include "machine.h"
#include "manager/LinkSetMgr.h"
#include "manager/port_list.h"
#include "sources/ip_helper.h"

class ManagerProbe {
public:
    explicit ManagerProbe(CLinkSetManager& manager) : m_manager(manager) {}

    void SetPorts(const std::vector<PORT_INFO>& ports) {
        CCoreRtAutoLock guard(&m_manager.m_portLock);
        m_manager.m_ports.clear();
        for (const PORT_INFO& port : ports) m_manager.m_ports.push_back(std::make_unique<PORT_INFO>(port));
    }
    // One tick with the process's count set so that it is tick number `tick`.
    void Tick(int32_t tick) {
        g_refreshTick = tick - 1;
        m_manager.Refresh();
    }
    // The adapter pass alone, moving the change count as an adapter tick does; a tick would run
    // the phone-book pass after it as well, which replaces the phone-book entries.
    void AdapterPass() {
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

// Deletes a manager as the library's delete function does, through slot 0.
inline void DeleteManager(CLinkSetManager* manager) { manager->DeletingDestructor(LINKSET_DELETE_MEMORY); }

// The records a host receives, all of them.
inline std::vector<PORT_INFO> Ports(ILinkSetManager& manager) {
    uint32_t copied = 0, total = 0;
    manager.GetPorts(nullptr, 0, &copied, &total, PORT_FILTER_ALL);
    std::vector<PORT_INFO> ports(total);
    manager.GetPorts(ports.data(), static_cast<uint32_t>(total * sizeof(PORT_INFO)), &copied, &total, PORT_FILTER_ALL);
    ports.resize(copied);
    return ports;
}

// A port record as discovery would build one; addresses in network order.
inline PORT_INFO MakePort(uint32_t type, const char* name, uint32_t address, uint32_t gateway = 0) {
    PORT_INFO port = {};
    port.PortType = type;
    std::strncpy(port.ConnectionName, name, sizeof port.ConnectionName - 1);
    std::strncpy(port.AdapterName, name, sizeof port.AdapterName - 1);
    port.IsDialUp = type == PORT_TYPE_DIALUP ? 1 : 0;
    port.IpAddress = address;
    port.HasIpAddress = address != 0;
    port.Gateway = gateway;
    port.HasGateway = gateway != 0;
    if (address != 0) {
        port.IpAddressCount = 1;
        port.IpAddresses[0] = {address, 0x00FFFFFF};
    }
    return port;
}

// A phone-book entry's port as the phone-book pass makes one.
inline PORT_INFO PhoneBookEntry(const char* name) {
    PORT_INFO entry = MakePort(PORT_TYPE_DIALUP, name, 0);
    std::strcpy(entry.AdapterName, kPhoneBookAdapterName);
    return entry;
}
