// The plug-ins that recognise a VPN client by the traces it leaves on the machine: registry
// values the client keeps current, keys of its driver or service, its running processes, or its
// virtual adapter in the manager's port list. They answer connected or not connected only;
// whether a client is installed is no answer of theirs.
#pragma once

#include <linkset/manager.h>
#include <linkset/port_info.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "vpn/vpn_plugin.h"

// Whether an Update call's count runs per object or across every object of the class.
enum class CountScope { PerObject, PerClass };

// Update does its work on one call in `period` (never when 0), the first time on call
// `firstWorkingCall`; the calls in between leave the answer as it was.
struct UpdatePacing {
    uint32_t period;
    uint32_t firstWorkingCall;
    CountScope scope;
};

struct TracePlugInKind {
    EPLUGINTYPE type;
    const char* displayName;  // what GetName and GetDescription give alike
    UpdatePacing pacing;
};

// What the five have in common: a fixed display name and type, a paced Update and a connected
// answer that only a working Update changes, so a new plug-in answers 0 until its first one.
class CTracePlugIn : public IVPNPlugIn {
public:
    int32_t GetName(outputstr* text) override;
    int32_t GetDescription(outputstr* text) override;
    uint32_t GetType() override;
    void Update() final;
    uint32_t IsConnected() override;

protected:
    explicit CTracePlugIn(EPLUGINTYPE type);

private:
    // The work of a due Update: what the client's traces say now, or nothing when they leave
    // the last answer standing.
    virtual std::optional<bool> ReadTraces() = 0;
    bool UpdateDue();

    const TracePlugInKind& m_kind;
    uint32_t m_ownCallsLeft;  // calls up to the next working one, for a count of this object's own
    uint32_t* m_callsLeft;    // m_ownCallsLeft, or the count of the whole class
    bool m_connected = false;
};

class CCisco3000VPNPlugIn final : public CTracePlugIn {
public:
    // Reports an installed client's driver to the debug log; nothing else depends on it.
    CCisco3000VPNPlugIn();

private:
    std::optional<bool> ReadTraces() override;
};

class CCheckpointVPNPlugIn final : public CTracePlugIn {
public:
    CCheckpointVPNPlugIn();

private:
    std::optional<bool> ReadTraces() override;
};

class CAventailVPNPlugIn final : public CTracePlugIn {
public:
    CAventailVPNPlugIn();

private:
    std::optional<bool> ReadTraces() override;
};

class CAlcatelVPNPlugIn final : public CTracePlugIn {
public:
    CAlcatelVPNPlugIn();

private:
    std::optional<bool> ReadTraces() override;
};

// The port records one Update reads; the client's adapter further down the list goes unseen.
inline constexpr std::size_t kJuniperPortRecords = 16;

class CJuniperSslVPNPlugIn final : public CTracePlugIn {
public:
    // The manager (not owned, may be null) is where the client's virtual adapter shows up.
    explicit CJuniperSslVPNPlugIn(ILinkSetManager* manager);

private:
    std::optional<bool> ReadTraces() override;
    bool TunnelAdapterHasAddress();

    ILinkSetManager* m_manager;
    // Filled on every working Update, so the maintenance cycle allocates nothing for it.
    std::array<PORT_INFO, kJuniperPortRecords> m_ports;
};
