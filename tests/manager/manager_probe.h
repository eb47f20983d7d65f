// Reaches into a manager for tests and benchmarks: seeds its port list and drives its cycle
// without the maintenance thread.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "boundary/locks.h"
#include "manager/LinkSetMgr.h"
#include "manager/port_list.h"

class ManagerProbe {
public:
    explicit ManagerProbe(CLinkSetManager& manager) : m_manager(manager) {}

    void SetPorts(const std::vector<PORT_INFO>& ports) {
        CCoreRtAutoLock guard(&m_manager.m_portLock);
        m_manager.m_ports.clear();
        for (const PORT_INFO& port : ports) m_manager.m_ports.push_back(std::make_unique<PORT_INFO>(port));
    }
    size_t PortCount() {
        CCoreRtAutoLock guard(&m_manager.m_portLock);
        return m_manager.m_ports.size();
    }
    uint32_t AddressSum() const { return m_manager.m_addressSum; }
    uint32_t PortsChanged() const { return m_manager.m_portsChanged; }
    CCoreRtLock& PortLock() { return m_manager.m_portLock; }
    CCoreRtLock& VpnLock() { return m_manager.m_vpnLock; }

private:
    CLinkSetManager& m_manager;
};

// A port record as discovery would build one; `address`, `gateway` in dotted text.
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
