// The objects a host holds: the manager and the installer, with their slots in fixed order.
#pragma once

#include <stdint.h>

#include "abi.h"
#include "port_info.h"

// Results of the manager's and the detector's operations.
enum LS_RESULT : int32_t {
    LS_OK = 0,
    LS_ERROR_FAILED = -1,
    LS_ERROR_NO_PLUGIN = -2,
    LS_ERROR_BUFFER_TOO_SMALL = -4,
    LS_ERROR_THREAD_TERMINATED = -9,
};

// VPN client kinds. PLUGIN_ALL stands for every kind at once and is never a plug-in's type.
enum EPLUGINTYPE {
    PLUGIN_CISCO3000 = 1,
    PLUGIN_NETSCREEN = 2,
    PLUGIN_CHECKPOINT = 3,
    PLUGIN_SAFENET = 4,
    PLUGIN_RAS = 5,
    PLUGIN_AVENTAIL = 6,
    PLUGIN_ALCATEL = 7,
    PLUGIN_JUNIPERSSL = 8,
    PLUGIN_ALL = 9,
};

class ILinkSetManager {
    LINKSET_INTERFACE_SLOT0(ILinkSetManager)  // slot 0

    // Slot 1: copies the records that pass `filter` (a PORT_FILTER) into `buffer`, which holds
    // bufferBytes / sizeof(PORT_INFO) records; *total counts every passing port.
    virtual int32_t GetPorts(PORT_INFO* buffer, uint32_t bufferBytes, uint32_t* copied,
                             uint32_t* total, int32_t filter) = 0;
    // Slots 2 to 4: addresses of the first 32 addressed ports; *count is always the number needed.
    virtual int32_t GetGateways(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) = 0;
    virtual int32_t GetDnsServers(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) = 0;
    virtual int32_t GetWinsServers(uint32_t* addresses, uint32_t bufferBytes, uint32_t* count) = 0;
    // Slots 5 to 8: VPN detection.
    virtual int32_t OpenVPNDetector(int32_t open) = 0;
    virtual int32_t IsVPNDetectorOpen() = 0;
    virtual int32_t GetVPNDetectionResult(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                                          uint32_t* needed) = 0;
    virtual int32_t CheckVPNStatus(EPLUGINTYPE type, uint32_t* status) = 0;
    // Slot 9: grows by one each time the ports' addresses change.
    virtual uint32_t GetChangeCount() = 0;
};

class ILinkSetManagerInstaller {
    LINKSET_INTERFACE_SLOT0(ILinkSetManagerInstaller)  // slot 0

    virtual int32_t PerformInstall() = 0;  // slot 1: has no effect; answers 1
};
