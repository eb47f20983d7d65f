// A worker thread that runs one procedure and coordinates with it through three named,
// manual-reset events: "GenericThread_ToStop", "GenericThread_Running" and
// "GenericThread_FailRunning", each followed by the instance number in lower-case hex.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "system/handles.h"

struct GenericThreadContext {
    uint32_t id;
    HANDLE hToStop;
    HANDLE hRunning;
    HANDLE hFailRunning;
};

// Signals hRunning as soon as it runs (or hFailRunning if it cannot), and returns soon after
// hToStop is signalled.
using GenericThreadProc = void (*)(GenericThreadContext* context, void* parameter);

class ThreadLaunch;  // what a started thread shares with its controller
// Gives up the controller's share of a launch block.
struct ControllerShare {
    void operator()(ThreadLaunch* launch) const;
};

// Controlled from one thread. Not started, every handle is null; a failed start leaves it so,
// and it may be started again.
class GenericThread {
public:
    GenericThread(GenericThreadProc procedure, void* parameter);
    ~GenericThread();  // StopThread(180000), then closes what is still open
    GenericThread(const GenericThread&) = delete;
    GenericThread& operator=(const GenericThread&) = delete;

    // 0 once the procedure reported running, -1 otherwise; waits at most 30000 ms whatever
    // `timeout` says. A failed start leaves no thread behind: one that has not begun the
    // procedure never begins it, one that has is stopped, so a caller may destroy the parameter
    // (and the library be unloaded) as soon as it returns.
    int StartThread(DWORD timeout);
    // 0, or -9 when the thread had to be terminated after `timeout` ms.
    int StopThread(DWORD timeout);

private:
    DWORD WaitForReport() const;
    int FailStart(const char* line);
    void EndAbandonedThread();
    void Terminate();
    void CloseHandles();

    GenericThreadProc m_pfnThreadProc;
    void* m_pParam;
    UniqueHandle m_hThread;
    uint32_t m_id;
    UniqueHandle m_hRunning;
    UniqueHandle m_hFailRunning;
    bool m_started;
    std::unique_ptr<ThreadLaunch, ControllerShare> m_launch;
};
