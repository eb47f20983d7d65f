#include "system/generic_thread.h"

#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "import_patch.h"
#include "recording_log.h"
#include "resource_counts.h"

namespace {

constexpr DWORD kWaitMs = 5000;
constexpr DWORD kShortStopMs = 100;
constexpr DWORD kLateStartMs = 300;
constexpr const char* kToStop = "GenericThread_ToStop";

// What calls from the test's own thread meet; workers and the runtime always get the real call.
struct Fault {
    bool lateStarter = false;          // the start pauses after resuming its worker
    DWORD waitAnswer = WAIT_OBJECT_0;  // else the start's wait answers this at once, and its worker
    bool afterReport = false;          // is held until the start waits for its end; or after the report
    bool noStopEvent = false;          // the stop event cannot be opened
};
Fault g_fault;
const DWORD g_testThread = GetCurrentThreadId();  // the tests run on the thread that loads them
UniqueHandle g_lastThread;                        // the test's own handle on the last worker
std::atomic<bool> g_held{false};

const Fault& Active() {
    static const Fault none;
    return GetCurrentThreadId() == g_testThread ? g_fault : none;
}

decltype(&ResumeThread) g_resume;
decltype(&WaitForMultipleObjectsEx) g_waitMultiple;
decltype(&WaitForSingleObject) g_waitSingle;
decltype(&OpenEventA) g_openEvent;

DWORD WINAPI FakeResumeThread(HANDLE thread) {
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), g_lastThread.put(), 0, FALSE, DUPLICATE_SAME_ACCESS);
    g_held = Active().waitAnswer != WAIT_OBJECT_0 && !Active().afterReport;
    const DWORD count = g_held ? 1 : g_resume(thread);
    if (Active().lateStarter) Sleep(kLateStartMs);
    return count;
}
DWORD WINAPI FakeWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
    const Fault& fault = Active();
    if (fault.waitAnswer == WAIT_OBJECT_0) return g_waitMultiple(count, handles, all, ms, alertable);
    if (fault.afterReport) g_waitMultiple(count, handles, all, ms, alertable);
    return fault.waitAnswer;
}
DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD ms) {
    if (GetCurrentThreadId() == g_testThread && g_held.exchange(false)) g_resume(g_lastThread.get());
    return g_waitSingle(handle, ms);
}
HANDLE WINAPI FakeOpenEventA(DWORD access, BOOL inherit, LPCSTR name) {
    return Active().noStopEvent ? (SetLastError(ERROR_FILE_NOT_FOUND), nullptr) : g_openEvent(access, inherit, name);
}

// The one procedure of these tests; the probe says how it behaves and keeps what it saw.
enum class Behaviour { RunUntilStopped, ReturnAtOnce, ReportFailure };
struct Probe {
    Behaviour behaviour;
    std::atomic<int> calls{0};
    std::atomic<uint32_t> id{0};
    std::atomic<bool> stopAtStart{false}, sawStop{false};
};

void Work(GenericThreadContext* context, void* parameter) {
    auto& probe = *static_cast<Probe*>(parameter);
    ++probe.calls;
    probe.id = context->id;
    probe.stopAtStart = WaitForSingleObject(context->hToStop, 0) == WAIT_OBJECT_0;
    SetEvent(probe.behaviour == Behaviour::ReportFailure ? context->hFailRunning : context->hRunning);
    if (probe.behaviour == Behaviour::RunUntilStopped)
        probe.sawStop = WaitForSingleObject(context->hToStop, INFINITE) == WAIT_OBJECT_0;
}

bool EventExists(const char* base, uint32_t id) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%x", base, static_cast<unsigned>(id));
    return static_cast<bool>(UniqueHandle(OpenEventA(SYNCHRONIZE, FALSE, name)));
}

class GenericThreadTest : public ::testing::Test {
protected:
    GenericThreadTest() { EventExists(kToStop, 0); }  // the first named event keeps a folder handle open
    ~GenericThreadTest() override { g_fault = {}; }

    RecordingDebugLog log;
    ScopedDebugLog installed{log, &LsSetDebugOutput};
    const HMODULE exe = ThisExecutable();
    ImportPatch resume{exe, "kernel32.dll", "ResumeThread", &FakeResumeThread, &g_resume};
    ImportPatch waitMultiple{exe, "kernel32.dll", "WaitForMultipleObjectsEx", &FakeWaitForMultipleObjectsEx, &g_waitMultiple};
    ImportPatch waitSingle{exe, "kernel32.dll", "WaitForSingleObject", &FakeWaitForSingleObject, &g_waitSingle};
    ImportPatch openEvent{exe, "kernel32.dll", "OpenEventA", &FakeOpenEventA, &g_openEvent};
};

// Each row starts, and if that succeeds stops, under its fault; then the object must start like
// new: the start waits for the new procedure's report, which finds its stop event clear.
TEST_F(GenericThreadTest, StartsAndStopsSayWhatWentWrongAndLeaveNothingBehind) {
    const std::string unknown = "GenericThread:StartThread(ERROR) waiting for thread returned unknown error.\n";
    const struct {
        const char* name;
        Behaviour behaviour;
        Fault fault;
        int started, stopped, calls;  // what StartThread and, after a start, StopThread answer; procedure calls
        std::vector<std::string> lines;
    } cases[] = {
        // Reported and ended before the start began to wait; stopped quietly after it ended.
        {"ended early", Behaviour::ReturnAtOnce, {.lateStarter = true}, LS_OK, LS_OK, 1, {}},
        {"stop event gone", Behaviour::RunUntilStopped, {.noStopEvent = true}, LS_OK, LS_ERROR_THREAD_TERMINATED, 1,
         {"OpenEvent return NULL and this thread is active! try wait for a moment\n",
          "This thread is active! It will be terminated!\n"}},
        {"failure reported early", Behaviour::ReportFailure, {.lateStarter = true}, LS_ERROR_FAILED, 0, 1,
         {"GenericThread : StartTread(ERROR) can't start.\n"}},
        // A worker held until the start gave up never begins the procedure...
        {"wait interrupted", Behaviour::ReturnAtOnce, {.waitAnswer = WAIT_IO_COMPLETION}, LS_ERROR_FAILED, 0, 0,
         {unknown}},
        // ...and one that has begun it is asked to stop before the start returns.
        {"wait failed", Behaviour::RunUntilStopped, {.waitAnswer = WAIT_FAILED, .afterReport = true},
         LS_ERROR_FAILED, 0, 1, {unknown}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        g_lastThread.reset();
        const HandleCount handles;
        Probe probe{c.behaviour};
        GenericThread thread(Work, &probe);
        g_fault = c.fault;
        EXPECT_EQ(thread.StartThread(kWaitMs), c.started);
        EXPECT_EQ(c.started == LS_OK ? thread.StopThread(kShortStopMs) : LS_OK, c.stopped);
        g_fault = {};
        EXPECT_EQ(log.Lines(), c.lines);
        EXPECT_EQ(probe.calls, c.calls);
        if (c.stopped == LS_OK) {
            EXPECT_EQ(WaitForSingleObject(g_lastThread.get(), 0), WAIT_OBJECT_0) << "a thread outlived it";
            EXPECT_EQ(probe.sawStop, c.behaviour == Behaviour::RunUntilStopped) << "asked to stop, not terminated";
        }

        probe.behaviour = Behaviour::RunUntilStopped;
        probe.sawStop = false;
        ASSERT_EQ(thread.StartThread(kWaitMs), LS_OK);
        EXPECT_EQ(probe.calls, c.calls + 1);
        EXPECT_FALSE(probe.stopAtStart);
        for (const char* base : {kToStop, "GenericThread_Running", "GenericThread_FailRunning"})
            EXPECT_TRUE(EventExists(base, probe.id)) << base;
        EXPECT_EQ(thread.StopThread(kWaitMs), LS_OK);
        EXPECT_TRUE(probe.sawStop);
        EXPECT_EQ(handles.Added(), 1) << "only the test's own handle on the last worker is left";
    }
    Probe first{Behaviour::RunUntilStopped}, second{Behaviour::RunUntilStopped};
    GenericThread one(Work, &first), other(Work, &second);  // built back to back, yet numbered apart
    ASSERT_EQ(one.StartThread(kWaitMs) + other.StartThread(kWaitMs), LS_OK);
    EXPECT_EQ(second.calls, 1) << "the second start waited for its own thread";
    EXPECT_NE(first.id, second.id);
}

}  // namespace
