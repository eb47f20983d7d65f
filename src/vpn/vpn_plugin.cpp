#include "vpn/vpn_plugin.h"

namespace {

// What Install and Uninstall answer; nothing reads it.
constexpr int32_t kHookDone = 0;
constexpr uint32_t kNotConnected = 0;

}  // namespace

int32_t IVPNPlugIn::Install() { return kHookDone; }

int32_t IVPNPlugIn::Uninstall() { return kHookDone; }

CVPNPlugInImpl::~CVPNPlugInImpl() {
    // The detectors go while the lock is still held, so none is deleted under a running Update.
    CCoreRtAutoLock guard(&m_lock);
    m_detectors.clear();
}

void CVPNPlugInImpl::AddDetector(ISpecificVPNDetector* detector) {
    std::unique_ptr<ISpecificVPNDetector> owned(detector);
    if (!owned) return;
    CCoreRtAutoLock guard(&m_lock);
    m_detectors.push_back(std::move(owned));
}

void CVPNPlugInImpl::Update() {
    CCoreRtAutoLock guard(&m_lock);
    if (m_haveCurrent) {
        ISpecificVPNDetector& current = *m_detectors[m_current];
        if (current.Detect() != 0) {
            m_state = current.IsConnected();
            return;
        }
        // The generation that answered before has gone: every one is asked again, this one too.
        m_haveCurrent = false;
    }
    if (!FindCurrentDetector()) m_state = kNotConnected;
}

uint32_t CVPNPlugInImpl::IsConnected() {
    CCoreRtAutoLock guard(&m_lock);
    return m_state;
}

bool CVPNPlugInImpl::FindCurrentDetector() {
    for (std::size_t index = 0; index < m_detectors.size(); ++index) {
        if (m_detectors[index]->Detect() == 0) continue;
        m_current = index;
        m_haveCurrent = true;
        m_state = m_detectors[index]->IsConnected();
        return true;
    }
    return false;
}
