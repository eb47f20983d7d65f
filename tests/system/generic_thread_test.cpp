#include "system/generic_thread.h"

#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import_patch.h"
#include "recording_log.h"
#include "resource_counts.h"

namespace {

constexpr DWORD kWaitMs = 5000;
constexpr DWORD kShortStopMs = 100;
constexpr DWORD kLateStartMs = 300;
constexpr DWORD kTerminated = 0xFFFFFFFF;
constexpr DWORD kRealWait = WAIT_OBJECT_0;
constexpr const char* kToStop = "GenericThread_ToStop";
constexpr const char* kRunning = "GenericThread_Running";
constexpr const char* kFailRunning = "GenericThread_FailRunning";

std::string NameOf(const char* base, uint32_t id) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%x", base, static_cast<unsigned>(id));
    return name;
}

// What calls from the test's own thread meet; workers and the runtime always get the real call.
struct Fault {
    const char* failEvent = nullptr;  // creating or opening an event of a name with this prefix
    bool failThread = false;
    DWORD waitAnswer = kRealWait;  // the start's wait answers this at once, its worker held until
    bool afterReport = false;      // the start waits for the worker's end, or after the report
    bool lateStarter = false;      // the start pauses after resuming its worker
    DWORD exitCodeError = ERROR_SUCCESS;
};
Fault g_fault;
const DWORD g_testThread = GetCurrentThreadId();  // the tests run on the thread that loads them
UniqueHandle g_lastThread;  // the test's own handle on the last thread started
bool g_held = false;

const Fault& Active() {
    static const Fault none;
    return GetCurrentThreadId() == g_testThread ? g_fault : none;
}
bool Failing(const char* event) {
    return event != nullptr && Active().failEvent != nullptr && std::string_view(event).starts_with(Active().failEvent);
}

decltype(&CreateEventA) g_createEvent;
decltype(&OpenEventA) g_openEvent;
decltype(&WaitForMultipleObjectsEx) g_waitMultiple;
decltype(&WaitForSingleObject) g_waitSingle;
decltype(&ResumeThread) g_resume;
decltype(&GetExitCodeThread) g_exitCode;
using BeginThread = uintptr_t(__cdecl*)(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*);
BeginThread g_beginThread;

HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL state, LPCSTR name) {
    return Failing(name) ? (SetLastError(ERROR_ACCESS_DENIED), nullptr) : g_createEvent(security, manual, state, name);
}
HANDLE WINAPI FakeOpenEventA(DWORD access, BOOL inherit, LPCSTR name) {
    return Failing(name) ? (SetLastError(ERROR_FILE_NOT_FOUND), nullptr) : g_openEvent(access, inherit, name);
}
DWORD WINAPI FakeWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
    const Fault& fault = Active();
    if (fault.waitAnswer == kRealWait) return g_waitMultiple(count, handles, all, ms, alertable);
    if (fault.afterReport) g_waitMultiple(count, handles, all, ms, alertable);
    return fault.waitAnswer;
}
DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD ms) {
    if (GetCurrentThreadId() == g_testThread && std::exchange(g_held, false)) g_resume(g_lastThread.get());
    return g_waitSingle(handle, ms);
}
DWORD WINAPI FakeResumeThread(HANDLE thread) {
    const DWORD count = g_resume(thread);
    if (Active().lateStarter) Sleep(kLateStartMs);
    return count;
}
BOOL WINAPI FakeGetExitCodeThread(HANDLE thread, LPDWORD code) {
    const DWORD error = Active().exitCodeError;
    return error != ERROR_SUCCESS ? (SetLastError(error), FALSE) : g_exitCode(thread, code);
}
uintptr_t __cdecl FakeBeginThreadEx(void* security, unsigned stack, unsigned(__stdcall* start)(void*), void* argument,
                                    unsigned flags, unsigned* id) {
    if (Active().failThread) return 0;
    const uintptr_t thread = g_beginThread(security, stack, start, argument, flags, id);
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(thread), GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    g_lastThread.reset(copy);
    g_held = Active().waitAnswer != kRealWait && !Active().afterReport;
    if (g_held) SuspendThread(copy);  // the start's own resume leaves it so
    return thread;
}

// The thread's exit code once it has ended, STILL_ACTIVE if it does not end in time.
DWORD EndedWith(const UniqueHandle& thread) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(thread.get(), kWaitMs) == WAIT_OBJECT_0) GetExitCodeThread(thread.get(), &code);
    return code;
}
bool Ended(const UniqueHandle& thread) { return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; }

// The one procedure of these tests; the probe says how it behaves and keeps what it saw.
enum class Behaviour { RunUntilStopped, ReturnAtOnce, ReportFailure, IgnoreStop };
struct Probe {
    Behaviour behaviour;
    std::atomic<int> calls{0};
    std::atomic<uint32_t> id{0};
    std::atomic<bool> stopAtStart{false}, sawStop{false};
};

// Once it has reported a failed start, the procedure no longer touches the probe.
void Work(GenericThreadContext* context, void* parameter) {
    auto& probe = *static_cast<Probe*>(parameter);
    const Behaviour behaviour = probe.behaviour;
    ++probe.calls;
    probe.id = context->id;
    probe.stopAtStart = WaitForSingleObject(context->hToStop, 0) == WAIT_OBJECT_0;
    SetEvent(behaviour == Behaviour::ReportFailure ? context->hFailRunning : context->hRunning);
    if (behaviour == Behaviour::IgnoreStop) Sleep(INFINITE);
    if (behaviour == Behaviour::RunUntilStopped)
        probe.sawStop = WaitForSingleObject(context->hToStop, INFINITE) == WAIT_OBJECT_0;
}

bool EventExists(const std::string& name) {
    return static_cast<bool>(UniqueHandle(OpenEventA(SYNCHRONIZE, FALSE, name.c_str())));
}

// After whatever came before, a start waits for the new procedure's report, and the procedure
// finds its stop event clear.
void StartsLikeNew(GenericThread& thread, Probe& probe) {
    probe.behaviour = Behaviour::RunUntilStopped;
    const int calls = probe.calls;
    ASSERT_EQ(thread.StartThread(kWaitMs), LS_OK);
    EXPECT_EQ(probe.calls, calls + 1);
    EXPECT_FALSE(probe.stopAtStart);
    EXPECT_EQ(thread.StopThread(kWaitMs), LS_OK);
}

class GenericThreadTest : public ::testing::Test {
protected:
    GenericThreadTest() { EventExists(kToStop); }  // the first named event keeps a folder handle open
    ~GenericThreadTest() override { g_fault = {}; }

    RecordingDebugLog log;
    ScopedDebugLog installed{log, &LsSetDebugOutput};
    const HMODULE exe = ThisExecutable();
    ImportPatch createEvent{exe, "kernel32.dll", "CreateEventA", &FakeCreateEventA, &g_createEvent};
    ImportPatch openEvent{exe, "kernel32.dll", "OpenEventA", &FakeOpenEventA, &g_openEvent};
    ImportPatch waitMultiple{exe, "kernel32.dll", "WaitForMultipleObjectsEx", &FakeWaitForMultipleObjectsEx,
                             &g_waitMultiple};
    ImportPatch waitSingle{exe, "kernel32.dll", "WaitForSingleObject", &FakeWaitForSingleObject, &g_waitSingle};
    ImportPatch resume{exe, "kernel32.dll", "ResumeThread", &FakeResumeThread, &g_resume};
    ImportPatch exitCode{exe, "kernel32.dll", "GetExitCodeThread", &FakeGetExitCodeThread, &g_exitCode};
    ImportPatch beginThread{exe, "msvcrt.dll", "_beginthreadex", &FakeBeginThreadEx, &g_beginThread};
};

TEST_F(GenericThreadTest, TwoInstancesRunWithEventsOfTheirOwnUntilStoppedOrDestroyed) {
    const HandleCount handles;
    Probe first{Behaviour::RunUntilStopped}, second{Behaviour::RunUntilStopped};
    {
        GenericThread one(Work, &first), other(Work, &second);
        ASSERT_EQ(one.StartThread(kWaitMs), LS_OK);
        ASSERT_EQ(other.StartThread(kWaitMs), LS_OK);
        EXPECT_EQ(one.StartThread(kWaitMs), LS_OK);  // already started: no second thread
        EXPECT_NE(first.id, second.id);               // built back to back, yet numbered apart
        for (const char* base : {kToStop, kRunning, kFailRunning})
            EXPECT_TRUE(EventExists(NameOf(base, first.id)) && EventExists(NameOf(base, second.id))) << base;
        EXPECT_EQ(one.StopThread(kWaitMs), LS_OK);
        EXPECT_TRUE(first.sawStop);
    }
    EXPECT_TRUE(second.sawStop) << "the destructor stops a started thread";
    EXPECT_EQ(first.calls + second.calls, 2);
    EXPECT_TRUE(log.Lines().empty());
    g_lastThread.reset();
    EXPECT_EQ(handles.Added(), 0);
}

// Each way a stop can go, and a start after it.
TEST_F(GenericThreadTest, StopSignalsWaitsAndTerminatesAsALastResort) {
    const std::string active = "This thread is active! It will be terminated!\n";
    const std::string noCode = "GenericThread:StopThread(ERROR) failed to get thread code. errcode6\n";
    const struct {
        const char* name;
        Behaviour behaviour;
        Fault fault;
        int result;
        std::vector<std::string> lines;
        DWORD exitCode;
    } cases[] = {
        {"stopped", Behaviour::RunUntilStopped, {}, LS_OK, {}, 0},
        // Reported and ended before the start began to wait; stopped quietly after it ended.
        {"ended early", Behaviour::ReturnAtOnce, {.lateStarter = true}, LS_OK, {}, 0},
        {"terminated", Behaviour::IgnoreStop, {}, LS_ERROR_THREAD_TERMINATED, {active}, kTerminated},
        {"no stop event", Behaviour::RunUntilStopped, {.failEvent = kToStop}, LS_ERROR_THREAD_TERMINATED,
         {"OpenEvent return NULL and this thread is active! try wait for a moment\n", active}, kTerminated},
        // An unreadable code counts as 0, not as still active, so nothing is terminated.
        {"no exit code", Behaviour::RunUntilStopped, {.failEvent = kToStop, .exitCodeError = ERROR_INVALID_HANDLE},
         LS_ERROR_THREAD_TERMINATED, {noCode, noCode}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        g_lastThread.reset();
        const HandleCount handles;
        Probe probe{c.behaviour};
        GenericThread thread(Work, &probe);
        g_fault = c.fault;
        ASSERT_EQ(thread.StartThread(kWaitMs), LS_OK);
        if (c.behaviour == Behaviour::ReturnAtOnce) {
            ASSERT_EQ(EndedWith(g_lastThread), 0u);
        }
        EXPECT_EQ(thread.StopThread(kShortStopMs), c.result);
        g_fault = {};
        EXPECT_EQ(thread.StopThread(kShortStopMs), LS_OK) << "stopped already";
        EXPECT_EQ(log.Lines(), c.lines);
        // Lets go a worker that was neither stopped nor terminated.
        SetEvent(UniqueHandle(OpenEventA(EVENT_MODIFY_STATE, FALSE, NameOf(kToStop, probe.id).c_str())).get());
        EXPECT_EQ(EndedWith(g_lastThread), c.exitCode);
        StartsLikeNew(thread, probe);
        EXPECT_EQ(handles.Added(), 1) << "only the test's own handle on the last worker is left";
    }
}

// Each start failure says why, leaves nothing open and no thread that could still touch the
// parameter, and may be followed by a start that succeeds.
TEST_F(GenericThreadTest, EachStartFailureSaysWhyAndLeavesNoThreadBehind) {
    const std::string canNot = "GenericThread : StartTread(ERROR) can't start.";
    const std::string unknown = "GenericThread:StartThread(ERROR) waiting for thread returned unknown error.";
    const struct {
        Fault fault;
        std::string line;
        Behaviour behaviour = Behaviour::ReturnAtOnce;
        int calls = 0;
    } cases[] = {
        {{.failEvent = kRunning}, "GenericThread:StartThread(ERROR) failed to create running event."},
        {{.failEvent = kFailRunning}, "GenericThread: StartThread(ERROR) failed to create failrunning event."},
        {{.failThread = true}, "GenericThread:StartThread(ERROR) failed to create thread."},
        {{}, canNot, Behaviour::ReportFailure, 1},
        {{.lateStarter = true}, canNot, Behaviour::ReportFailure, 1},
        // A worker held until the start gave up never begins the procedure.
        {{.waitAnswer = WAIT_TIMEOUT}, "GenericThread:StartThread(ERROR) waiting for thread time out."},
        {{.waitAnswer = WAIT_IO_COMPLETION}, unknown},
        // One that has begun it is stopped before the start returns.
        {{.waitAnswer = WAIT_FAILED, .afterReport = true}, unknown, Behaviour::RunUntilStopped, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        log.Clear();
        g_lastThread.reset();
        const HandleCount handles;
        Probe probe{c.behaviour};
        GenericThread thread(Work, &probe);
        g_fault = c.fault;
        EXPECT_EQ(thread.StartThread(kWaitMs), LS_ERROR_FAILED);
        g_fault = {};
        EXPECT_TRUE(log.WroteOnly(c.line));
        EXPECT_EQ(probe.calls, c.calls);
        EXPECT_TRUE(!g_lastThread || Ended(g_lastThread)) << "a thread outlived its failed start";
        EXPECT_EQ(probe.sawStop, c.behaviour == Behaviour::RunUntilStopped) << "asked to stop, not terminated";
        EXPECT_EQ(handles.Added(), g_lastThread ? 1 : 0) << "only the test's own handle on a worker is left";
        StartsLikeNew(thread, probe);
    }
    log.Clear();
    EXPECT_EQ(GenericThread(nullptr, nullptr).StartThread(kWaitMs), LS_ERROR_FAILED);
    EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
