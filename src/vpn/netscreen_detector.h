// The NetScreen client reports its tunnels through an event library of its own, cmondll.dll in
// the system directory. One detector serves the whole process: it loads that library once the
// client's services run, registers for its IKE events and from then on knows whether the last
// event said the tunnel is up. The NetScreen plug-in and the SafeNet plug-in's earlier
// generation both ask it, so they answer alike from one registration.
#pragma once

#include <cstdint>

#include "boundary/locks.h"

// What Detect and IsConnected answer.
inline constexpr uint32_t kClientAbsent = 0;
inline constexpr uint32_t kClientDetected = 1;
inline constexpr uint32_t kTunnelDown = 0;

// How long a detector waits for the client's services before it tries the library anyway:
// this many Detect calls, after which the next one loads it.
inline constexpr int32_t kDetectsBeforeLoad = 55;

// What IsServiceRunning answers: only kServiceRunning means running.
inline constexpr int32_t kServiceRunning = 0;
inline constexpr int32_t kServiceNotRunning = -1;
inline constexpr int32_t kServiceApiMissing = -2;

// Never crosses the library boundary and implements no plug-in interface of ours; its slots
// are the destructor, IsConnected and Detect, in this order.
class CNetScreenVPNDetector {
public:
    CNetScreenVPNDetector();
    // Unregisters from the event library if it was bound; the library itself is freed only
    // after this, when LinkSet.dll is unloaded.
    virtual ~CNetScreenVPNDetector();
    CNetScreenVPNDetector(const CNetScreenVPNDetector&) = delete;
    CNetScreenVPNDetector& operator=(const CNetScreenVPNDetector&) = delete;

    // While registered, kTunnelUp when the last IKE event said so; kTunnelDown otherwise.
    virtual uint32_t IsConnected();
    // kClientDetected once the event library has taken our callback. Until then it waits for
    // the client's services, for the logoff event, or for its countdown to run out; one failed
    // attempt makes every later call answer kClientAbsent at once.
    virtual uint32_t Detect();

private:
    char m_filter[8];
    int32_t m_countdown;
    // Detect may come from the maintenance threads of two managers at once: they share the
    // process's one binding. Innermost of the detection locks; nothing is called under it that
    // takes another of ours.
    CCoreRtCriticalSectionEx m_lock;
};

// The process's one detector, built on the first call and destroyed when the library unloads.
CNetScreenVPNDetector* GetNetScreenDetector();

// Whether the named service runs, asked through the advapi32 that the process has already
// loaded: kServiceRunning, kServiceNotRunning (also for a null name or a missing service), or
// kServiceApiMissing when that module or one of its service functions is not there.
int32_t IsServiceRunning(const char* name);
