#include "system/generic_thread.h"

#include <linkset/manager.h>
#include <process.h>

#include <atomic>
#include <cstdio>
#include <iterator>
#include <memory>

#include "boundary/debug_output.h"
#include "boundary/outputstr.h"

namespace {

constexpr const char* kToStopBase = "GenericThread_ToStop";
constexpr const char* kRunningBase = "GenericThread_Running";
constexpr const char* kFailRunningBase = "GenericThread_FailRunning";

constexpr DWORD kStartWaitMs = 30000;
constexpr DWORD kDestructorStopWaitMs = 180000;
constexpr DWORD kRunningReported = WAIT_OBJECT_0;
constexpr DWORD kFailureReported = WAIT_OBJECT_0 + 1;
constexpr unsigned kThreadExitCode = 0;
constexpr DWORD kTerminatedExitCode = 0xFFFFFFFF;
constexpr unsigned kDefaultStackSize = 0;
constexpr uint32_t kTickWeight = 10;
constexpr uint32_t kProcessWeight = 100;

// Mixes the performance counter with time and process, so that two instances of one process,
// even in the same millisecond, and instances of different processes get different events.
uint32_t MakeInstanceNumber() {
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    const auto value = static_cast<uint64_t>(counter.QuadPart);
    const auto low = static_cast<uint32_t>(value);
    const auto high = static_cast<uint32_t>(value >> 32);
    return low + kTickWeight * (GetTickCount() + kProcessWeight * GetCurrentProcessId()) + high;
}

// The longest base and eight hex digits fit with room to spare.
constexpr std::size_t kEventNameSize = 64;
struct EventName {
    char text[kEventNameSize];
};

EventName MakeEventName(const char* base, uint32_t id) {
    EventName name = {};
    std::snprintf(name.text, sizeof name.text, "%s%x", base, static_cast<unsigned>(id));
    return name;
}

HANDLE CreateNamedEvent(const char* base, uint32_t id) {
    return CreateEventA(nullptr, TRUE, FALSE, MakeEventName(base, id).text);
}

HANDLE OpenNamedEvent(const char* base, uint32_t id) {
    return OpenEventA(EVENT_ALL_ACCESS, FALSE, MakeEventName(base, id).text);
}

// The controlling side normally holds the event already; the thread creates it only if not.
HANDLE OpenOrCreateNamedEvent(const char* base, uint32_t id) {
    const HANDLE event = OpenNamedEvent(base, id);
    return event != nullptr ? event : CreateNamedEvent(base, id);
}

// Everything the new thread needs, shared between it and StartThread. The thread never reads
// the GenericThread object, which its owner may destroy after a failed start, and it takes
// the procedure only through Claim: whichever comes first, the thread's claim or StartThread
// giving up, decides once and for all whether the procedure runs.
struct ThreadLaunch {
    enum class State { Pending, Claimed, Abandoned };

    ThreadLaunch(GenericThreadProc p, void* param, uint32_t i) : procedure(p), parameter(param), id(i) {}

    bool Claim() { return Settle(State::Claimed); }
    void Abandon() { Settle(State::Abandoned); }

    const GenericThreadProc procedure;
    void* const parameter;
    const uint32_t id;

private:
    bool Settle(State outcome) {
        State expected = State::Pending;
        return state.compare_exchange_strong(expected, outcome);
    }
    std::atomic<State> state{State::Pending};
};
using SharedLaunch = std::shared_ptr<ThreadLaunch>;

unsigned __stdcall ThreadEntry(void* argument) {
    const std::unique_ptr<SharedLaunch> launch(static_cast<SharedLaunch*>(argument));
    const uint32_t id = (*launch)->id;
    const UniqueHandle toStop(CreateNamedEvent(kToStopBase, id));
    if (!toStop) return kThreadExitCode;
    const UniqueHandle running(OpenOrCreateNamedEvent(kRunningBase, id));
    if (!running) return kThreadExitCode;
    const UniqueHandle failRunning(OpenOrCreateNamedEvent(kFailRunningBase, id));
    if (!failRunning) return kThreadExitCode;

    // A start that was given up may have been followed by the parameter's destruction.
    // (A procedure that has begun but not reported within the whole wait breaks its contract,
    // and is beyond what can be guarded here.)
    if (!(*launch)->Claim()) return kThreadExitCode;
    GenericThreadContext context = {id, toStop.get(), running.get(), failRunning.get()};
    (*launch)->procedure(&context, (*launch)->parameter);
    ResetEvent(running.get());
    ResetEvent(failRunning.get());
    return kThreadExitCode;
}

// The thread holds its own reference to the launch block, handed over only once it exists.
HANDLE BeginSuspendedThread(const SharedLaunch& launch) {
    auto reference = std::make_unique<SharedLaunch>(launch);
    const uintptr_t thread =
        _beginthreadex(nullptr, kDefaultStackSize, ThreadEntry, reference.get(), CREATE_SUSPENDED, nullptr);
    if (thread == 0) return nullptr;
    reference.release();
    return reinterpret_cast<HANDLE>(thread);
}

const char* StartFailureLine(DWORD waited) {
    switch (waited) {
    case kFailureReported:
        return "GenericThread : StartTread(ERROR) can't start.";
    case WAIT_TIMEOUT:
        return "GenericThread:StartThread(ERROR) waiting for thread time out.";
    default:
        return "GenericThread:StartThread(ERROR) waiting for thread returned unknown error.";
    }
}

// 0 when the code cannot be read, after saying why.
DWORD ReadExitCode(HANDLE thread) {
    DWORD code = 0;
    if (GetExitCodeThread(thread, &code)) return code;
    const auto error = static_cast<unsigned long>(GetLastError());
    WriteDebugLine(outputstr() + "GenericThread:StopThread(ERROR) failed to get thread code. errcode" + error);
    return 0;
}

}  // namespace

GenericThread::GenericThread(GenericThreadProc procedure, void* parameter)
    : m_pfnThreadProc(procedure), m_pParam(parameter), m_id(MakeInstanceNumber()), m_started(false) {}

GenericThread::~GenericThread() { StopThread(kDestructorStopWaitMs); }

int GenericThread::StartThread(DWORD /*timeout: the wait is always kStartWaitMs*/) {
    if (m_pfnThreadProc == nullptr) return LS_ERROR_FAILED;
    if (m_started) return LS_OK;

    m_hRunning.reset(CreateNamedEvent(kRunningBase, m_id));
    if (!m_hRunning) return FailStart("GenericThread:StartThread(ERROR) failed to create running event.");
    m_hFailRunning.reset(CreateNamedEvent(kFailRunningBase, m_id));
    if (!m_hFailRunning) return FailStart("GenericThread: StartThread(ERROR) failed to create failrunning event.");

    const auto launch = std::make_shared<ThreadLaunch>(m_pfnThreadProc, m_pParam, m_id);
    m_hThread.reset(BeginSuspendedThread(launch));
    if (!m_hThread) return FailStart("GenericThread:StartThread(ERROR) failed to create thread.");
    SetThreadPriority(m_hThread.get(), THREAD_PRIORITY_NORMAL);
    ResumeThread(m_hThread.get());

    const DWORD waited = WaitForReport();
    if (waited == kRunningReported) {
        m_started = true;
        return LS_OK;
    }
    launch->Abandon();
    return FailStart(StartFailureLine(waited));
}

int GenericThread::StopThread(DWORD timeout) {
    if (!m_started) return LS_OK;
    m_started = false;
    int result = LS_OK;

    // Only the thread creates the stop event, so it is gone once the thread has ended.
    UniqueHandle toStop(OpenNamedEvent(kToStopBase, m_id));
    if (toStop)
        SetEvent(toStop.get());
    else if (ReadExitCode(m_hThread.get()) == STILL_ACTIVE)
        WriteDebugLine("OpenEvent return NULL and this thread is active! try wait for a moment");

    if (WaitForSingleObject(m_hThread.get(), timeout) == WAIT_TIMEOUT) {
        result = LS_ERROR_THREAD_TERMINATED;
        if (ReadExitCode(m_hThread.get()) == STILL_ACTIVE) {
            WriteDebugLine("This thread is active! It will be terminated!");
            // The thread's own handles and its share of the launch block are lost with it.
            TerminateThread(m_hThread.get(), kTerminatedExitCode);
        }
    }
    toStop.reset();
    CloseHandles();
    return result;
}

DWORD GenericThread::WaitForReport() const {
    const HANDLE reports[] = {m_hRunning.get(), m_hFailRunning.get()};
    return WaitForMultipleObjectsEx(static_cast<DWORD>(std::size(reports)), reports, FALSE, kStartWaitMs, TRUE);
}

int GenericThread::FailStart(const char* line) {
    WriteDebugLine(line);
    CloseHandles();
    return LS_ERROR_FAILED;
}

void GenericThread::CloseHandles() {
    m_hThread.reset();
    m_hRunning.reset();
    m_hFailRunning.reset();
}
