#include "system/generic_thread.h"

#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "import_patch.h"
#include "recording_log.h"

namespace {

constexpr DWORD kWaitMs = 5000;
constexpr DWORD kShortStopMs = 100;
constexpr DWORD kTerminatedExitCode = 0xFFFFFFFF;
constexpr const char* kEventPrefix = "GenericThread_";

bool StartsWith(const char* text, const char* prefix) {
    return text != nullptr && prefix != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// --- fault injection in this executable's imports -----------------------------------------

// Each replacement passes through unless its fault is armed. Event faults select by name, the
// others by the thread that armed them, because the runtime makes the same calls.
struct Faults {
    std::atomic<const char*> failCreateEvent{nullptr};  // name prefix
    std::atomic<const char*> failOpenEvent{nullptr};    // name prefix
    std::atomic<DWORD> failThreadCreationOn{0};         // thread id
    std::atomic<DWORD> waitAnswerOn{0};                 // thread id
    std::atomic<DWORD> waitAnswer{0};
    std::atomic<DWORD> exitCodeError{ERROR_SUCCESS};
    // Holds a new worker thread before its first call until the gate opens.
    std::atomic<bool> holdThreads{false};
    HANDLE gate = nullptr;
    std::atomic<DWORD> heldThread{0};

    std::mutex namesMutex;
    std::vector<std::string> eventNames;
};
Faults* g_faults = nullptr;

decltype(&CreateEventA) g_createEvent;
decltype(&OpenEventA) g_openEvent;
decltype(&WaitForMultipleObjectsEx) g_waitMultiple;
decltype(&GetExitCodeThread) g_exitCode;
using BeginThread = uintptr_t(__cdecl*)(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*);
BeginThread g_beginThread;

HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCSTR name) {
    if (StartsWith(name, kEventPrefix)) {
        {
            std::lock_guard<std::mutex> guard(g_faults->namesMutex);
            g_faults->eventNames.push_back(name);
        }
        if (g_faults->holdThreads && StartsWith(name, "GenericThread_ToStop")) {
            g_faults->heldThread = GetCurrentThreadId();
            WaitForSingleObject(g_faults->gate, INFINITE);
        }
        if (StartsWith(name, g_faults->failCreateEvent)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
    }
    return g_createEvent(security, manual, initial, name);
}

HANDLE WINAPI FakeOpenEventA(DWORD access, BOOL inherit, LPCSTR name) {
    if (StartsWith(name, g_faults->failOpenEvent)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return g_openEvent(access, inherit, name);
}

DWORD WINAPI FakeWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
    if (g_faults->waitAnswerOn == GetCurrentThreadId()) return g_faults->waitAnswer;
    return g_waitMultiple(count, handles, all, ms, alertable);
}

BOOL WINAPI FakeGetExitCodeThread(HANDLE thread, LPDWORD code) {
    if (g_faults->exitCodeError != ERROR_SUCCESS) {
        SetLastError(g_faults->exitCodeError);
        return FALSE;
    }
    return g_exitCode(thread, code);
}

uintptr_t __cdecl FakeBeginThreadEx(void* security, unsigned stack, unsigned(__stdcall* start)(void*), void* argument,
                                    unsigned flags, unsigned* id) {
    if (g_faults->failThreadCreationOn == GetCurrentThreadId()) return 0;
    return g_beginThread(security, stack, start, argument, flags, id);
}

// --- procedures the tests run ---------------------------------------------------------------

struct Probe {
    std::atomic<int> calls{0};
    std::atomic<uint32_t> id{0};
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> sawStop{false};
};

void Record(GenericThreadContext* context, void* parameter) {
    auto* probe = static_cast<Probe*>(parameter);
    ++probe->calls;
    probe->id = context->id;
    probe->threadId = GetCurrentThreadId();
}

void RunUntilStopped(GenericThreadContext* context, void* parameter) {
    Record(context, parameter);
    SetEvent(context->hRunning);
    WaitForSingleObject(context->hToStop, INFINITE);
    static_cast<Probe*>(parameter)->sawStop = true;
}

void ReportRunningAndReturn(GenericThreadContext* context, void* parameter) {
    Record(context, parameter);
    SetEvent(context->hRunning);
}

void ReportFailure(GenericThreadContext* context, void* parameter) {
    Record(context, parameter);
    SetEvent(context->hFailRunning);
}

void IgnoreStop(GenericThreadContext* context, void* parameter) {
    Record(context, parameter);
    SetEvent(context->hRunning);
    Sleep(INFINITE);
}

std::string NameOf(const char* base, uint32_t id) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%x", base, static_cast<unsigned>(id));
    return name;
}

// A thread of this process by its id, to watch it end.
struct WatchedThread {
    explicit WatchedThread(DWORD id) : handle(OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, id)) {}
    bool Ended() const { return WaitForSingleObject(handle.get(), kWaitMs) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = 0;
        g_exitCode(handle.get(), &code);
        return code;
    }
    UniqueHandle handle;
};

class GenericThreadTest : public ::testing::Test {
protected:
    GenericThreadTest()
        : m_createEvent(ThisExecutable(), "kernel32.dll", "CreateEventA", reinterpret_cast<const void*>(&FakeCreateEventA)),
          m_openEvent(ThisExecutable(), "kernel32.dll", "OpenEventA", reinterpret_cast<const void*>(&FakeOpenEventA)),
          m_wait(ThisExecutable(), "kernel32.dll", "WaitForMultipleObjectsEx",
                 reinterpret_cast<const void*>(&FakeWaitForMultipleObjectsEx)),
          m_exitCode(ThisExecutable(), "kernel32.dll", "GetExitCodeThread",
                     reinterpret_cast<const void*>(&FakeGetExitCodeThread)),
          m_beginThread(ThisExecutable(), "msvcrt.dll", "_beginthreadex",
                        reinterpret_cast<const void*>(&FakeBeginThreadEx)),
          m_log(log, &LsSetDebugOutput) {
        g_createEvent = m_createEvent.Original<decltype(&CreateEventA)>();
        g_openEvent = m_openEvent.Original<decltype(&OpenEventA)>();
        g_waitMultiple = m_wait.Original<decltype(&WaitForMultipleObjectsEx)>();
        g_exitCode = m_exitCode.Original<decltype(&GetExitCodeThread)>();
        g_beginThread = m_beginThread.Original<BeginThread>();
        faults.gate = g_createEvent(nullptr, TRUE, FALSE, nullptr);
        g_faults = &faults;
    }
    ~GenericThreadTest() override {
        SetEvent(faults.gate);
        CloseHandle(faults.gate);
    }

    // Named events vanish with their last handle.
    static void ExpectClosed(const std::vector<std::string>& names) {
        for (const std::string& name : names)
            EXPECT_FALSE(UniqueHandle(g_openEvent(SYNCHRONIZE, FALSE, name.c_str()))) << name << " still open";
    }

    std::vector<std::string> TakeEventNames() {
        std::lock_guard<std::mutex> guard(faults.namesMutex);
        return std::exchange(faults.eventNames, {});
    }

    bool EventExists(const char* base, uint32_t id) {
        UniqueHandle event(g_openEvent(SYNCHRONIZE, FALSE, NameOf(base, id).c_str()));
        return static_cast<bool>(event);
    }

    Faults faults;
    RecordingDebugLog log;

private:
    ImportPatch m_createEvent, m_openEvent, m_wait, m_exitCode, m_beginThread;
    ScopedDebugLog m_log;
};

TEST_F(GenericThreadTest, RunsTheProcedureUntilStoppedThroughItsNamedEvents) {
    Probe first, second;
    {
        GenericThread one(RunUntilStopped, &first);
        GenericThread other(RunUntilStopped, &second);
        ASSERT_EQ(one.StartThread(kWaitMs), LS_OK);
        ASSERT_EQ(other.StartThread(kWaitMs), LS_OK);
        EXPECT_EQ(one.StartThread(kWaitMs), LS_OK);  // already started: no second thread
        EXPECT_EQ(first.calls, 1);

        // Built back to back, yet each has events of its own.
        EXPECT_NE(first.id, second.id);
        for (const char* base : {"GenericThread_ToStop", "GenericThread_Running", "GenericThread_FailRunning"}) {
            EXPECT_TRUE(EventExists(base, first.id)) << base;
            EXPECT_TRUE(EventExists(base, second.id)) << base;
        }
        {
            std::lock_guard<std::mutex> guard(faults.namesMutex);
            EXPECT_EQ(faults.eventNames[0], NameOf("GenericThread_Running", first.id));
            EXPECT_EQ(faults.eventNames[1], NameOf("GenericThread_FailRunning", first.id));
        }

        EXPECT_EQ(one.StopThread(kWaitMs), LS_OK);
        EXPECT_TRUE(first.sawStop);
        EXPECT_FALSE(EventExists("GenericThread_ToStop", first.id));
        EXPECT_FALSE(EventExists("GenericThread_Running", first.id));
        EXPECT_EQ(one.StopThread(kWaitMs), LS_OK);
        EXPECT_FALSE(second.sawStop);
    }
    EXPECT_TRUE(second.sawStop) << "the destructor stops a started thread";
    EXPECT_EQ(first.calls + second.calls, 2);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(GenericThreadTest, StoppingAThreadThatAlreadyEndedIsQuiet) {
    Probe probe;
    GenericThread thread(ReportRunningAndReturn, &probe);
    ASSERT_EQ(thread.StartThread(kWaitMs), LS_OK);
    ASSERT_TRUE(WatchedThread(probe.threadId).Ended());
    EXPECT_EQ(thread.StopThread(kWaitMs), LS_OK);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(GenericThreadTest, TerminatesAProcedureThatIgnoresTheStopEvent) {
    Probe probe;
    GenericThread thread(IgnoreStop, &probe);
    ASSERT_EQ(thread.StartThread(kWaitMs), LS_OK);
    const WatchedThread worker(probe.threadId);
    EXPECT_EQ(thread.StopThread(kShortStopMs), LS_ERROR_THREAD_TERMINATED);
    EXPECT_TRUE(log.WroteOnly("This thread is active! It will be terminated!"));
    ASSERT_TRUE(worker.Ended());
    EXPECT_EQ(worker.ExitCode(), kTerminatedExitCode);
}

TEST_F(GenericThreadTest, SaysWhenTheStopEventIsMissingWhileTheThreadRuns) {
    Probe probe;
    GenericThread thread(RunUntilStopped, &probe);
    ASSERT_EQ(thread.StartThread(kWaitMs), LS_OK);
    const WatchedThread worker(probe.threadId);
    faults.failOpenEvent = "GenericThread_ToStop";
    EXPECT_EQ(thread.StopThread(kShortStopMs), LS_ERROR_THREAD_TERMINATED);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "OpenEvent return NULL and this thread is active! try wait for a moment\n",
                               "This thread is active! It will be terminated!\n"}));
    ASSERT_TRUE(worker.Ended());
    EXPECT_EQ(worker.ExitCode(), kTerminatedExitCode);
}

TEST_F(GenericThreadTest, SaysWhyTheExitCodeCannotBeReadAndTerminatesNothing) {
    Probe probe;
    GenericThread thread(RunUntilStopped, &probe);
    ASSERT_EQ(thread.StartThread(kWaitMs), LS_OK);
    const WatchedThread worker(probe.threadId);
    faults.failOpenEvent = "GenericThread_ToStop";
    faults.exitCodeError = ERROR_INVALID_HANDLE;
    EXPECT_EQ(thread.StopThread(kShortStopMs), LS_ERROR_THREAD_TERMINATED);
    const std::string line = "GenericThread:StopThread(ERROR) failed to get thread code. errcode6\n";
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{line, line}));

    // Read as 0, the code never says "still active", so the thread was left running.
    faults.failOpenEvent = nullptr;
    faults.exitCodeError = ERROR_SUCCESS;
    const UniqueHandle toStop(g_openEvent(EVENT_MODIFY_STATE, FALSE, NameOf("GenericThread_ToStop", probe.id).c_str()));
    ASSERT_TRUE(toStop);
    SetEvent(toStop.get());
    ASSERT_TRUE(worker.Ended());
    EXPECT_TRUE(probe.sawStop);
}

TEST_F(GenericThreadTest, EachStartFailureSaysWhyLeavesNothingOpenAndMayBeRetried) {
    enum class Fault { None, RunningEvent, FailRunningEvent, ThreadCreation };
    const struct {
        Fault fault;
        GenericThreadProc procedure;
        const char* line;
    } cases[] = {
        {Fault::RunningEvent, RunUntilStopped, "GenericThread:StartThread(ERROR) failed to create running event."},
        {Fault::FailRunningEvent, RunUntilStopped,
         "GenericThread: StartThread(ERROR) failed to create failrunning event."},
        {Fault::ThreadCreation, RunUntilStopped, "GenericThread:StartThread(ERROR) failed to create thread."},
        {Fault::None, ReportFailure, "GenericThread : StartTread(ERROR) can't start."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        log.Clear();
        Probe probe;
        DWORD handlesBefore = 0, handlesAfter = 0;
        GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
        {
            GenericThread thread(c.procedure, &probe);
            faults.failCreateEvent = c.fault == Fault::RunningEvent       ? "GenericThread_Running"
                                     : c.fault == Fault::FailRunningEvent ? "GenericThread_FailRunning"
                                                                          : nullptr;
            faults.failThreadCreationOn = c.fault == Fault::ThreadCreation ? GetCurrentThreadId() : 0;
            EXPECT_EQ(thread.StartThread(kWaitMs), LS_ERROR_FAILED);
            EXPECT_TRUE(log.WroteOnly(c.line)) << log.Lines().size();
            faults.failCreateEvent = nullptr;
            faults.failThreadCreationOn = 0;
            if (c.fault == Fault::None) {
                EXPECT_EQ(probe.calls, 1);
                ASSERT_TRUE(WatchedThread(probe.threadId).Ended());
                ExpectClosed(TakeEventNames());
            } else {
                EXPECT_EQ(probe.calls, 0);
                ExpectClosed(TakeEventNames());
                EXPECT_EQ(thread.StartThread(kWaitMs), LS_OK);
                EXPECT_EQ(thread.StopThread(kWaitMs), LS_OK);
            }
        }
        GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
        EXPECT_EQ(handlesAfter, handlesBefore);
    }

    GenericThread none(nullptr, nullptr);
    log.Clear();
    EXPECT_EQ(none.StartThread(kWaitMs), LS_ERROR_FAILED);
    EXPECT_TRUE(log.Lines().empty());
}

// The worker is held at its first call until StartThread has given up and the GenericThread,
// with the parameter beside it, is gone and its memory unmapped: let go, the worker must
// neither run the procedure nor read the object.
std::atomic<int> g_lateCalls{0};
void TouchParameter(GenericThreadContext* context, void* parameter) {
    ++g_lateCalls;
    *static_cast<int*>(parameter) = 1;
    SetEvent(context->hRunning);
}

TEST_F(GenericThreadTest, AThreadLetGoAfterStartGaveUpNeverRunsItsProcedure) {
    const struct {
        DWORD waitAnswer;
        const char* line;
    } cases[] = {
        {WAIT_TIMEOUT, "GenericThread:StartThread(ERROR) waiting for thread time out."},
        {WAIT_FAILED, "GenericThread:StartThread(ERROR) waiting for thread returned unknown error."},
        {WAIT_IO_COMPLETION, "GenericThread:StartThread(ERROR) waiting for thread returned unknown error."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        log.Clear();
        ResetEvent(faults.gate);
        faults.heldThread = 0;
        faults.holdThreads = true;
        faults.waitAnswer = c.waitAnswer;
        faults.waitAnswerOn = GetCurrentThreadId();

        SYSTEM_INFO system = {};
        GetSystemInfo(&system);
        void* page = VirtualAlloc(nullptr, system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ASSERT_NE(page, nullptr);
        int* parameter = static_cast<int*>(page);
        auto* thread = new (static_cast<char*>(page) + alignof(std::max_align_t)) GenericThread(TouchParameter, parameter);
        EXPECT_EQ(thread->StartThread(kWaitMs), LS_ERROR_FAILED);
        faults.waitAnswerOn = 0;
        EXPECT_TRUE(log.WroteOnly(c.line));

        for (int waited = 0; faults.heldThread == 0 && waited < static_cast<int>(kWaitMs); ++waited) Sleep(1);
        ASSERT_NE(faults.heldThread, 0u) << "the worker never reached its first call";
        const WatchedThread worker(faults.heldThread);
        thread->~GenericThread();
        VirtualFree(page, 0, MEM_RELEASE);

        faults.holdThreads = false;
        SetEvent(faults.gate);
        ASSERT_TRUE(worker.Ended());
        EXPECT_EQ(worker.ExitCode(), 0u);
        EXPECT_EQ(g_lateCalls, 0);
    }
}

}  // namespace
