// Which VPN plug-ins are wanted: an ordered list of (kind, enabled) entries. The manager builds
// one with every kind enabled when VPN detection is opened; the detector keeps a private copy
// and creates one plug-in per enabled kind, in list order.
#pragma once

#include <linkset/manager.h>

#include <cstdint>
#include <memory>
#include <vector>

// Every kind that has a plug-in, in the order PLUGIN_ALL expands to.
inline constexpr EPLUGINTYPE kEveryPlugInType[] = {
    PLUGIN_CISCO3000, PLUGIN_NETSCREEN, PLUGIN_CHECKPOINT, PLUGIN_SAFENET,
    PLUGIN_RAS,       PLUGIN_AVENTAIL,  PLUGIN_ALCATEL,    PLUGIN_JUNIPERSSL,
};

// What the configuration's operations answer.
inline constexpr int32_t kConfigDone = 1;
inline constexpr int32_t kConfigRefused = 0;

// Never crosses the library boundary, so an ordinary virtual destructor takes slot 0; the five
// operations follow in this fixed order.
class IVPNConfig {
public:
    virtual ~IVPNConfig() = default;
    // A new, empty configuration of the same class, owned by the caller.
    virtual IVPNConfig* CreateConfig() const = 0;
    // Replaces every entry by a copy of other's (null leaves this one empty). other must be a
    // CVPNConfig.
    virtual void CopyFrom(const IVPNConfig* other) = 0;
    // PLUGIN_ALL resets the list to the eight kinds with this flag. Always kConfigDone.
    virtual int32_t EnablePlugIn(EPLUGINTYPE type, bool enabled) = 0;
    // The enabled kinds in entry order. *count is the capacity of types on entry and the number
    // written on return; *needed is always the number there are. Always kConfigDone.
    virtual int32_t GetEnabledPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                                      uint32_t* needed) const = 0;
    // EnablePlugIn for each of count kinds; kConfigRefused, with nothing changed, when the
    // buffer is short or the array holds PLUGIN_ALL.
    virtual int32_t EnablePlugIns(const uint32_t* types, uint32_t bufferBytes, int32_t count,
                                  bool enabled) = 0;

    IVPNConfig() = default;
    IVPNConfig(const IVPNConfig&) = delete;
    IVPNConfig& operator=(const IVPNConfig&) = delete;
};

struct VPNConfigEntry {
    uint32_t type;  // stored as given, known kind or not
    uint8_t enabled;
};

class CVPNConfig : public IVPNConfig {
public:
    IVPNConfig* CreateConfig() const override;
    void CopyFrom(const IVPNConfig* other) override;
    int32_t EnablePlugIn(EPLUGINTYPE type, bool enabled) override;
    int32_t GetEnabledPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                              uint32_t* needed) const override;
    int32_t EnablePlugIns(const uint32_t* types, uint32_t bufferBytes, int32_t count,
                          bool enabled) override;

private:
    void Append(uint32_t type, bool enabled);
    // Entries keep the order of their first insertion; a flag change never moves one.
    std::vector<std::unique_ptr<VPNConfigEntry>> m_entries;
};
