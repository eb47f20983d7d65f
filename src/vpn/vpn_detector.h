// The VPN detector: owns one plug-in per kind its configuration enables, refreshes them on
// request and answers which clients have a tunnel up.
#pragma once

#include <linkset/manager.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "boundary/locks.h"
#include "vpn/plugin_catalog.h"
#include "vpn/vpn_config.h"
#include "vpn/vpn_plugin.h"

// Never crosses the library boundary: an ordinary virtual destructor takes slot 0 and the
// operations follow in this fixed order. The manager makes every call while it holds its VPN
// lock, which also orders GetConfig against SetConfig.
class IVPNDetector {
public:
    virtual ~IVPNDetector() = default;
    // The detector's own configuration; it stays the detector's.
    virtual IVPNConfig* GetConfig() = 0;
    // Keeps a copy of config and rebuilds the plug-ins from it: LS_OK or LS_ERROR_FAILED.
    virtual int32_t SetConfig(IVPNConfig* config) = 0;
    virtual void Update() = 0;
    // The kinds whose plug-in reports a tunnel, handed over like the configuration's enabled
    // kinds. Always LS_OK.
    virtual int32_t GetConnectedPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                                        uint32_t* needed) = 0;
    // The state of the first plug-in of `type`, passed on unchanged, or for PLUGIN_ALL 1 when
    // any plug-in is connected and 0 otherwise: LS_OK, or LS_ERROR_NO_PLUGIN with *status 0.
    virtual int32_t GetPlugInStatus(EPLUGINTYPE type, uint32_t* status) = 0;

    IVPNDetector() = default;
    IVPNDetector(const IVPNDetector&) = delete;
    IVPNDetector& operator=(const IVPNDetector&) = delete;
};

class CVPNDetector final : public IVPNDetector {
public:
    // The manager is not owned; it is handed to the plug-ins that read its port list.
    explicit CVPNDetector(ILinkSetManager* manager,
                          PlugInCatalog catalog = BuiltInPlugInClasses());
    ~CVPNDetector() override;

    IVPNConfig* GetConfig() override;
    int32_t SetConfig(IVPNConfig* config) override;
    void Update() override;
    int32_t GetConnectedPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                                uint32_t* needed) override;
    int32_t GetPlugInStatus(EPLUGINTYPE type, uint32_t* status) override;

private:
    void DeletePlugIns();
    void CreatePlugIns(const std::vector<uint32_t>& types);

    CCoreRtCriticalSectionEx m_lock;  // guards m_plugIns
    ILinkSetManager* m_manager;
    std::unique_ptr<IVPNConfig> m_config;
    std::vector<std::unique_ptr<IVPNPlugIn>> m_plugIns;
    PlugInCatalog m_catalog;
};
