// What every VPN plug-in offers the detector, and the helper that plug-ins for clients with
// several generations use to pick the generation that is present.
#pragma once

#include <linkset/manager.h>
#include <linkset/outputstr.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "boundary/locks.h"

// The answers of the text operations.
inline constexpr int32_t kPlugInTextDone = 0;
inline constexpr int32_t kPlugInNoText = -1;  // a null text was passed
// The connection state that means "tunnel up"; every other value means it is not.
inline constexpr uint32_t kTunnelUp = 1;

// Plug-ins never cross the library boundary: an ordinary virtual destructor takes slot 0 and
// the operations follow in this fixed order.
class IVPNPlugIn {
public:
    virtual ~IVPNPlugIn() = default;
    // Replaces *text by the plug-in's display name: kPlugInTextDone, or kPlugInNoText for null.
    virtual int32_t GetName(outputstr* text) = 0;
    virtual int32_t GetDescription(outputstr* text) = 0;
    virtual uint32_t GetType() = 0;  // the plug-in's EPLUGINTYPE
    // Refreshes what the plug-in knows of its client; may skip the work on some calls.
    virtual void Update() = 0;
    // The state the last Update found; does no work of its own.
    virtual uint32_t IsConnected() = 0;
    // Hooks the install exports run; no plug-in has anything to do in them.
    virtual int32_t Install();
    virtual int32_t Uninstall();

    IVPNPlugIn() = default;
    IVPNPlugIn(const IVPNPlugIn&) = delete;
    IVPNPlugIn& operator=(const IVPNPlugIn&) = delete;
};

// Recognises one generation of a VPN client.
class ISpecificVPNDetector {
public:
    virtual ~ISpecificVPNDetector() = default;
    // Nonzero when this generation is present and answering; may refresh its state meanwhile.
    virtual uint32_t Detect() = 0;
    virtual uint32_t IsConnected() = 0;  // kTunnelUp when this generation's tunnel is up

    ISpecificVPNDetector() = default;
    ISpecificVPNDetector(const ISpecificVPNDetector&) = delete;
    ISpecificVPNDetector& operator=(const ISpecificVPNDetector&) = delete;
};

// Held as a member by a plug-in whose client comes in generations; the plug-in forwards its
// Update and IsConnected here and adds its detectors, in the order to try them, when built.
class CVPNPlugInImpl {
public:
    CVPNPlugInImpl() = default;
    virtual ~CVPNPlugInImpl();
    CVPNPlugInImpl(const CVPNPlugInImpl&) = delete;
    CVPNPlugInImpl& operator=(const CVPNPlugInImpl&) = delete;

    // Takes ownership; null (a detector that could not be made) is ignored.
    void AddDetector(ISpecificVPNDetector* detector);
    // Asks the generation that answered last, alone, while it keeps answering; otherwise
    // every generation in order, and the first that answers becomes the current one.
    void Update();
    uint32_t IsConnected();

private:
    bool FindCurrentDetector();

    uint32_t m_state = 0;
    bool m_haveCurrent = false;
    // The list only grows until destruction, so a remembered position stays valid.
    std::size_t m_current = 0;
    std::vector<std::unique_ptr<ISpecificVPNDetector>> m_detectors;
    // Innermost of the detection locks: under it only this plug-in's own detectors are called,
    // and none of them reaches back into the VPN detector or the manager.
    CCoreRtCriticalSectionEx m_lock;
};
