#include "system/generic_thread.h"

#include <linkset/manager.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>

#include "boundary/debug_output.h"
#include "boundary/outputstr.h"

namespace {

constexpr const char* kToStopBase = "GenericThread_ToStop";
constexpr const char* kRunningBase = "GenericThread_Running";
constexpr const char* kFailRunningBase = "GenericThread_FailRunning";

constexpr DWORD kStartWaitMs = 30000;
// How long a thread whose start was given up may take to end; as long as its report could take.
constexpr DWORD kAbandonedThreadWaitMs = kStartWaitMs;
constexpr DWORD kDestructorStopWaitMs = 180000;
constexpr DWORD kRunningReported = WAIT_OBJECT_0;
constexpr DWORD kFailureReported = WAIT_OBJECT_0 + 1;
constexpr DWORD kThreadEnded = WAIT_OBJECT_0 + 2;
constexpr DWORD kReportCount = 2;
constexpr DWORD kNoReport = WAIT_TIMEOUT;
// How long a terminated thread is given to be gone before what it held is released.
constexpr DWORD kTerminationWaitMs = 5000;
constexpr DWORD kThreadPollMs = 10;
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

}  // namespace

// Everything the new thread needs, shared with its controller: each holds a share, and the
// block goes with the last. The thread never reads the GenericThread object, and it takes the
// procedure only through Claim: whichever comes first, the thread's claim or the controller
// giving up, decides once and for all whether the procedure runs.
class ThreadLaunch {
public:
    // A handle that the thread and the block's end may both come to close: the first takes it.
    class Slot {
    public:
        HANDLE Keep(HANDLE handle) { return m_handle = handle; }
        HANDLE Get() const { return m_handle; }
        void Close() { const UniqueHandle taken(m_handle.exchange(nullptr)); }
        ~Slot() { Close(); }

    private:
        std::atomic<HANDLE> m_handle{nullptr};
    };

    ThreadLaunch(GenericThreadProc p, void* param, uint32_t i) : procedure(p), parameter(param), id(i) {}

    bool Claim() { return Settle(State::Claimed); }
    // False when the thread has claimed the procedure already.
    bool Abandon() { return Settle(State::Abandoned); }

    // The thread gives up its share as it ends. One that never began, or was terminated, cannot:
    // its controller gives it up for it once the thread is surely gone. Whichever comes first.
    void ReleaseThreadShare() {
        if (!m_threadShareReleased.exchange(true)) ReleaseShare();
    }
    void ReleaseShare() {
        if (--m_shares == 0) delete this;
    }

    const GenericThreadProc procedure;
    void* const parameter;
    const uint32_t id;
    // The thread's own handles of its events. It closes them as it ends; a terminated thread
    // cannot, and its events, still signalled, would meet the next start of this instance
    // number. They are closed with the block instead.
    Slot toStop, running, failRunning;
    // The report the procedure left, taken before the thread resets the events, for a start
    // whose wait begins only after the thread has ended.
    std::atomic<DWORD> report{kNoReport};

private:
    enum class State { Pending, Claimed, Abandoned };
    bool Settle(State outcome) {
        State expected = State::Pending;
        return m_state.compare_exchange_strong(expected, outcome);
    }
    std::atomic<State> m_state{State::Pending};
    std::atomic<int> m_shares{2};  // the controller's and the thread's
    std::atomic<bool> m_threadShareReleased{false};
};

void ControllerShare::operator()(ThreadLaunch* launch) const { launch->ReleaseShare(); }

namespace {

void RunProcedure(ThreadLaunch& launch) {
    const uint32_t id = launch.id;
    if (!launch.toStop.Keep(CreateNamedEvent(kToStopBase, id))) return;
    const HANDLE running = launch.running.Keep(OpenOrCreateNamedEvent(kRunningBase, id));
    if (!running) return;
    const HANDLE failRunning = launch.failRunning.Keep(OpenOrCreateNamedEvent(kFailRunningBase, id));
    if (!failRunning) return;
    if (!launch.Claim()) return;
    GenericThreadContext context = {id, launch.toStop.Get(), running, failRunning};
    launch.procedure(&context, launch.parameter);
    const HANDLE reports[] = {running, failRunning};
    launch.report = WaitForMultipleObjects(static_cast<DWORD>(std::size(reports)), reports, FALSE, 0);
    ResetEvent(running);
    ResetEvent(failRunning);
}

unsigned __stdcall ThreadEntry(void* argument) {
    ThreadLaunch& launch = *static_cast<ThreadLaunch*>(argument);
    RunProcedure(launch);
    launch.running.Close();
    launch.failRunning.Close();
    launch.toStop.Close();
    launch.ReleaseThreadShare();  // the block may go with it: nothing of it is read after
    return kThreadExitCode;
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

// WaitForSingleObject on a thread; should the wait itself fail, the thread's exit code is looked
// at until it ends or the time is up, since a thread thought gone may still run code that the
// host unloads next.
DWORD WaitForThreadEnd(HANDLE thread, DWORD timeout) {
    const DWORD waited = WaitForSingleObject(thread, timeout);
    if (waited != WAIT_FAILED) return waited;
    for (DWORD slept = 0;; slept += kThreadPollMs) {
        DWORD code = 0;
        if (GetExitCodeThread(thread, &code) && code != STILL_ACTIVE) return WAIT_OBJECT_0;
        if (slept >= timeout) return WAIT_TIMEOUT;
        Sleep(kThreadPollMs);
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

    m_launch.reset(new ThreadLaunch(m_pfnThreadProc, m_pParam, m_id));
    m_hThread.reset(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, kDefaultStackSize, ThreadEntry, m_launch.get(), CREATE_SUSPENDED, nullptr)));
    if (!m_hThread) {
        m_launch->ReleaseThreadShare();  // no thread will
        return FailStart("GenericThread:StartThread(ERROR) failed to create thread.");
    }
    SetThreadPriority(m_hThread.get(), THREAD_PRIORITY_NORMAL);
    ResumeThread(m_hThread.get());

    const DWORD waited = WaitForReport();
    if (waited == kRunningReported) {
        m_started = true;
        return LS_OK;
    }
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

    if (WaitForThreadEnd(m_hThread.get(), timeout) == WAIT_TIMEOUT) {
        result = LS_ERROR_THREAD_TERMINATED;
        if (ReadExitCode(m_hThread.get()) == STILL_ACTIVE) {
            WriteDebugLine("This thread is active! It will be terminated!");
            Terminate();
        }
    }
    toStop.reset();
    CloseHandles();
    return result;
}

// The procedure may report and return, and its thread reset both events, before this wait
// begins; so the thread's end ends the wait too, and the report it saw counts. A thread that
// ended without one still gets the whole wait.
DWORD GenericThread::WaitForReport() const {
    const DWORD begun = GetTickCount();  // differences stay right across its wrap-around
    const HANDLE awaited[] = {m_hRunning.get(), m_hFailRunning.get(), m_hThread.get()};
    const DWORD waited =
        WaitForMultipleObjectsEx(static_cast<DWORD>(std::size(awaited)), awaited, FALSE, kStartWaitMs, TRUE);
    if (waited != kThreadEnded) return waited;
    const DWORD seen = m_launch->report;
    if (seen == kRunningReported || seen == kFailureReported) return seen;
    const DWORD elapsed = std::min(GetTickCount() - begun, kStartWaitMs);
    return WaitForMultipleObjectsEx(kReportCount, awaited, FALSE, kStartWaitMs - elapsed, TRUE);
}

int GenericThread::FailStart(const char* line) {
    WriteDebugLine(line);
    EndAbandonedThread();
    CloseHandles();
    return LS_ERROR_FAILED;
}

// How a thread whose start was given up is kept from the parameter, which the caller may
// destroy at once, and from this library, which the host may then unload: one that has not
// claimed the procedure never will and ends by itself; one that has is asked to stop. Either
// way it is gone before the start returns, terminated as a last resort.
void GenericThread::EndAbandonedThread() {
    if (!m_hThread) return;
    if (!m_launch->Abandon()) {
        const UniqueHandle toStop(OpenNamedEvent(kToStopBase, m_id));
        if (toStop) SetEvent(toStop.get());
    }
    if (WaitForThreadEnd(m_hThread.get(), kAbandonedThreadWaitMs) != WAIT_OBJECT_0) Terminate();
}

// TerminateThread only asks. Once the thread is surely gone, its share goes, and what it held
// goes with the block; if that cannot be known, the block is left to it.
void GenericThread::Terminate() {
    TerminateThread(m_hThread.get(), kTerminatedExitCode);
    if (WaitForThreadEnd(m_hThread.get(), kTerminationWaitMs) == WAIT_OBJECT_0) m_launch->ReleaseThreadShare();
}

void GenericThread::CloseHandles() {
    m_launch.reset();
    m_hThread.reset();
    m_hRunning.reset();
    m_hFailRunning.reset();
}
