// The plug-ins that ask a VPN client itself, through its event or rule library, and the one for
// VPN connections that Windows dials through Remote Access, which reads the manager's ports.
#pragma once

#include <linkset/manager.h>
#include <linkset/outputstr.h>

#include <cstdint>

#include "vpn/netscreen_detector.h"
#include "vpn/vpn_plugin.h"

// What GetName and GetDescription do with the text they give: kPlugInNoText for a null text,
// otherwise *text holds a copy of `value` and the answer is kPlugInTextDone.
inline int32_t AnswerPlugInText(outputstr* text, const outputstr& value) {
    if (text == nullptr) return kPlugInNoText;
    *text = value;
    return kPlugInTextDone;
}

// The NetScreen client, through the process's one NetScreen detector.
class CNetScreenVPNPlugIn final : public IVPNPlugIn {
public:
    CNetScreenVPNPlugIn();
    // The detector is the process's; it stays.
    ~CNetScreenVPNPlugIn() override = default;

    int32_t GetName(outputstr* text) override;
    int32_t GetDescription(outputstr* text) override;
    uint32_t GetType() override;
    void Update() override;
    // Live: the event library may have reported since the last Update.
    uint32_t IsConnected() override;

private:
    CNetScreenVPNDetector* m_detector;  // not owned
};

// SafeNet's earlier client is the NetScreen client under another name: the same services and
// event library, so it shares the NetScreen plug-in's detector, registration and answer.
class CSafeNetVPNEarlierVersionDetector final : public ISpecificVPNDetector {
public:
    CSafeNetVPNEarlierVersionDetector();
    uint32_t Detect() override;
    uint32_t IsConnected() override;

private:
    CNetScreenVPNDetector* m_detector;  // not owned
};

// SafeNet's later client runs the service "SOFTREMOTEPM" and keeps its rules behind ConAPI.dll
// in the "GUI" folder beside the service's program. Every Detect loads that library, reads the
// rules and frees it again; only the answer is kept.
class CSafeNetVPNLaterVersionDetector final : public ISpecificVPNDetector {
public:
    // kClientDetected when the client answered through its library; the connected state is
    // whether one of its rules has an active tunnel.
    uint32_t Detect() override;
    uint32_t IsConnected() override;

private:
    uint32_t m_connected = 0;
};

// Whether "SOFTREMOTEPM" runs: kServiceRunning, else kServiceNotRunning.
int32_t IsSoftRemoteServiceRunning();
// The program path that the service's configuration stores, as it stores it; empty when it
// cannot be read.
outputstr GetSoftRemoteBinaryPath();
// "GUI\ConAPI.dll" in the folder of that path; empty when the path has no folder or either
// path would not fit MAX_PATH.
outputstr GetConApiPath();

// The two SafeNet generations, the earlier asked first.
class CSafeNetVPNPlugIn final : public IVPNPlugIn {
public:
    CSafeNetVPNPlugIn();

    int32_t GetName(outputstr* text) override;
    int32_t GetDescription(outputstr* text) override;
    uint32_t GetType() override;
    void Update() override;
    uint32_t IsConnected() override;

private:
    CVPNPlugInImpl m_generations;
};

// VPN connections that Windows dials itself: the first port of the manager's list that sits on
// a VPN device. It is the one plug-in whose name and description are its connection's and so
// differ from each other.
class CRasVpnPlugIn final : public IVPNPlugIn {
public:
    // The manager (not owned) may be null, as for the install exports: then nothing is found.
    // Its ports are read at once: a VPN connection must be there now to be followed later.
    explicit CRasVpnPlugIn(ILinkSetManager* manager);

    int32_t GetName(outputstr* text) override;
    int32_t GetDescription(outputstr* text) override;
    uint32_t GetType() override;
    // Rescans on its first call and every fifth after, and only once a VPN port was ever seen.
    void Update() override;
    uint32_t IsConnected() override;

private:
    void ScanRasVpnPort();

    uint32_t m_updateCount;
    ILinkSetManager* m_manager;
    uint32_t m_connected = 0;
    bool m_seen = false;
    outputstr m_name;
    outputstr m_description;
};
