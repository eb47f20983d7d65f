// Lock order in VPN detection, outermost first: the manager's VPN lock, this detector's lock,
// then either a plug-in's own lock or the manager's port lock.
//
// Why it cannot invert: the manager calls the detector only while holding its VPN lock, and
// nothing here reaches back for that lock. Under this detector's lock only plug-ins are called.
// Plug-ins never see the detector, so they cannot take its lock; what they do take is their
// own lock, under which only their generation detectors run, or the manager's port lock
// through GetPorts, under which the manager only reads or changes its port list. Neither of
// those innermost locks is ever held while a lock further out is taken.
#include "vpn/vpn_detector.h"

#include <algorithm>
#include <utility>

#include "boundary/debug_output.h"
#include "vpn/type_list.h"

CVPNDetector::CVPNDetector(ILinkSetManager* manager, PlugInCatalog catalog)
    : m_manager(manager), m_config(std::make_unique<CVPNConfig>()), m_catalog(catalog) {}

CVPNDetector::~CVPNDetector() {
    // Lock order: the manager deletes its detector under its VPN lock; the plug-ins' destructors
    // run under this lock and take only their own.
    CCoreRtAutoLock guard(&m_lock);
    m_plugIns.clear();
    m_config.reset();
}

IVPNConfig* CVPNDetector::GetConfig() { return m_config.get(); }

int32_t CVPNDetector::SetConfig(IVPNConfig* config) {
    if (config == nullptr) {
        WriteDebugLine("<VPNdetector>: wrong parameter.");
        return LS_ERROR_FAILED;
    }
    // The copy is made outside this detector's lock: only the manager, under its VPN lock,
    // replaces or reads it. The previous configuration lives to the end of this call, since the
    // caller may have passed it (SetConfig(GetConfig())) and it is read again below.
    std::unique_ptr<IVPNConfig> copy(config->CreateConfig());
    copy->CopyFrom(config);
    const std::unique_ptr<IVPNConfig> previous = std::exchange(m_config, std::move(copy));

    uint32_t count = 0;
    uint32_t needed = 0;
    if (config->GetEnabledPlugIns(nullptr, 0, &count, &needed) != kConfigDone) return LS_ERROR_FAILED;
    // Emptied and refilled under two separate holds of the lock: a query in between finds no
    // plug-ins, which is a true answer while the list is being rebuilt.
    DeletePlugIns();
    if (needed == 0) return LS_OK;

    std::vector<uint32_t> types(needed);
    count = needed;
    needed = 0;
    if (config->GetEnabledPlugIns(types.data(), static_cast<uint32_t>(kBytesPerType * types.size()),
                                  &count, &needed) == kConfigRefused)
        return LS_ERROR_FAILED;
    types.resize(std::min<size_t>(count, types.size()));
    CreatePlugIns(types);
    return LS_OK;
}

void CVPNDetector::Update() {
    // Lock order: called from the maintenance cycle under the manager's VPN lock; a plug-in's
    // Update takes its own lock or the port lock, both further in.
    CCoreRtAutoLock guard(&m_lock);
    for (const auto& plugIn : m_plugIns) plugIn->Update();
}

int32_t CVPNDetector::GetConnectedPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                                          uint32_t* needed) {
    // Lock order: a host query forwarded under the manager's VPN lock; IsConnected and GetType
    // take at most a plug-in's own lock.
    CCoreRtAutoLock guard(&m_lock);
    std::vector<uint32_t> connected;
    connected.reserve(m_plugIns.size());
    for (const auto& plugIn : m_plugIns)
        if (plugIn->IsConnected() == kTunnelUp) connected.push_back(plugIn->GetType());
    AnswerTypeList(connected, types, bufferBytes, count, needed);
    return LS_OK;
}

int32_t CVPNDetector::GetPlugInStatus(EPLUGINTYPE type, uint32_t* status) {
    // Lock order: as for GetConnectedPlugIns.
    CCoreRtAutoLock guard(&m_lock);
    const bool anyType = type == PLUGIN_ALL;
    *status = 0;
    for (const auto& plugIn : m_plugIns) {
        if (!anyType && plugIn->GetType() != static_cast<uint32_t>(type)) continue;
        // The first plug-in of a kind answers for it, whatever value it gives; for every kind,
        // the first tunnel that is up settles the answer.
        *status = plugIn->IsConnected();
        if (!anyType || *status == kTunnelUp) return LS_OK;
    }
    if (anyType && !m_plugIns.empty()) {
        *status = 0;
        return LS_OK;
    }
    return LS_ERROR_NO_PLUGIN;
}

void CVPNDetector::DeletePlugIns() {
    // Lock order: SetConfig runs under the manager's VPN lock; the plug-ins' destructors take
    // only their own locks.
    CCoreRtAutoLock guard(&m_lock);
    m_plugIns.clear();
}

void CVPNDetector::CreatePlugIns(const std::vector<uint32_t>& types) {
    // Lock order: under the manager's VPN lock; a constructor that reads the port list takes
    // the manager's port lock, the innermost, from here.
    CCoreRtAutoLock guard(&m_lock);
    for (uint32_t type : types) {
        // A kind without a class is skipped; a kind listed twice gets two plug-ins.
        if (std::unique_ptr<IVPNPlugIn> plugIn = CreatePlugIn(m_catalog, type, m_manager))
            m_plugIns.push_back(std::move(plugIn));
    }
}
