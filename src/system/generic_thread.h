// A worker thread that runs one procedure and coordinates with it through three named,
// manual-reset events: "GenericThread_ToStop", "GenericThread_Running" and
// "GenericThread_FailRunning", each followed by the instance number in lower-case hex.
#pragma once

#include <windows.h>

#include <cstdint>

struct GenericThreadContext {
    uint32_t id;
    HANDLE hToStop;
    HANDLE hRunning;
    HANDLE hFailRunning;
};

// Signals hRunning as soon as it runs (or hFailRunning if it cannot), and returns soon after
// hToStop is signalled.
using GenericThreadProc = void (*)(GenericThreadContext* context, void* parameter);

class GenericThread {
public:
    GenericThread(GenericThreadProc procedure, void* parameter);
    ~GenericThread();  // StopThread(180000), then closes what is still open
    GenericThread(const GenericThread&) = delete;
    GenericThread& operator=(const GenericThread&) = delete;

    // 0 once the procedure reported running, -1 otherwise; waits at most 30000 ms whatever
    // `timeout` says.
    int StartThread(DWORD timeout);
    // 0, or -9 when the thread had to be terminated after `timeout` ms.
    int StopThread(DWORD timeout);
};
