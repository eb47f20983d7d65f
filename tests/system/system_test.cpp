#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <atomic>

#include "import_patch.h"  // and <windows.h>, <cstring>, <string>
#include "resource_counts.h"
#include "system/generic_thread.h"
#include "system/system_facts.h"

namespace {

// Faults of a start on the test's thread: a pause after resuming, or the wait answering at once, worker held.
struct Fault { bool lateStarter = false; DWORD waitAnswer = WAIT_OBJECT_0; };
Fault g_fault;
const DWORD g_testThread = GetCurrentThreadId();
Fault Active() { return GetCurrentThreadId() == g_testThread ? g_fault : Fault{}; }
UniqueHandle g_lastThread;  // the test's own handle on the last worker
std::atomic<bool> g_held{false};
decltype(&ResumeThread) g_resume;
decltype(&WaitForMultipleObjectsEx) g_waitMultiple;
decltype(&WaitForSingleObject) g_waitSingle;
DWORD WINAPI FakeResumeThread(HANDLE thread) {
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), g_lastThread.put(), 0, FALSE, DUPLICATE_SAME_ACCESS);
    g_held = Active().waitAnswer != WAIT_OBJECT_0;
    const DWORD count = g_held ? 1 : g_resume(thread);
    if (Active().lateStarter) Sleep(300);
    return count;
}
DWORD WINAPI FakeWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
    if (Active().waitAnswer == WAIT_OBJECT_0) return g_waitMultiple(count, handles, all, ms, alertable);
    return Active().waitAnswer;
}
DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD ms) {
    if (GetCurrentThreadId() == g_testThread && g_held.exchange(false)) g_resume(g_lastThread.get());
    return g_waitSingle(handle, ms);
}

enum class Procedure { ReturnsAtOnce, RunsUntilStopped, IgnoresTheStop };
struct Probe { Procedure procedure; std::atomic<int> calls{0}; std::atomic<bool> stopAtStart{false}, sawStop{false}; };
void Work(GenericThreadContext* context, void* parameter) {
    auto& probe = *static_cast<Probe*>(parameter);
    ++probe.calls;
    probe.stopAtStart = WaitForSingleObject(context->hToStop, 0) == WAIT_OBJECT_0;
    SetEvent(context->hRunning);
    if (probe.procedure == Procedure::IgnoresTheStop) Sleep(INFINITE);
    if (probe.procedure == Procedure::RunsUntilStopped) probe.sawStop = WaitForSingleObject(context->hToStop, INFINITE) == WAIT_OBJECT_0;
}

// After each fault the object must start like new: the start waits for the report, the stop event clear.
TEST(GenericThread, FaultsLeaveNoThreadBehindAndTheNextStartIsClean) {
    const struct { const char* name; Procedure procedure; Fault fault; int started, stopped, calls; } cases[] = {
        {"reported and ended before the start waited", Procedure::ReturnsAtOnce, {.lateStarter = true}, LS_OK, LS_OK, 1},
        {"terminated by the stop", Procedure::IgnoresTheStop, {}, LS_OK, LS_ERROR_THREAD_TERMINATED, 1},
        // A worker held until the start gave up never begins the procedure.
        {"wait interrupted", Procedure::ReturnsAtOnce, {.waitAnswer = WAIT_IO_COMPLETION}, LS_ERROR_FAILED, LS_OK, 0},
    };
    const ImportPatch resume(ThisExecutable(), "kernel32.dll", "ResumeThread", &FakeResumeThread, &g_resume),
        waitMultiple(ThisExecutable(), "kernel32.dll", "WaitForMultipleObjectsEx", &FakeWaitForMultipleObjectsEx, &g_waitMultiple),
        waitSingle(ThisExecutable(), "kernel32.dll", "WaitForSingleObject", &FakeWaitForSingleObject, &g_waitSingle);
    UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, "GenericThreadTest"));  // the first named event opens a folder for good
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_lastThread.reset();
        const long handlesBefore = ProcessHandleCount();
        Probe probe{c.procedure};
        GenericThread thread(Work, &probe);
        g_fault = c.fault;
        EXPECT_EQ(thread.StartThread(5000), c.started);
        EXPECT_EQ(c.started == LS_OK ? thread.StopThread(100) : LS_OK, c.stopped);
        g_fault = {};
        EXPECT_EQ(probe.calls, c.calls);
        EXPECT_EQ(WaitForSingleObject(g_lastThread.get(), 0), WAIT_OBJECT_0) << "a thread outlived it";
        probe.procedure = Procedure::RunsUntilStopped;
        ASSERT_EQ(thread.StartThread(5000), LS_OK);
        EXPECT_EQ(probe.calls, c.calls + 1);
        EXPECT_FALSE(probe.stopAtStart);
        EXPECT_EQ(thread.StopThread(5000), LS_OK);
        EXPECT_TRUE(probe.sawStop);
        EXPECT_EQ(ProcessHandleCount() - handlesBefore, 1) << "only the test's own handle on the last worker is left";
    }
}

// Run again under code page 932 by the system_tests_japanese entry: a cut name must not end in half a character.
TEST(CopyStringBounded, CopiesWhatFitsWithoutSplittingACharacter) {
    char wanted[16] = {};
    if (GetEnvironmentVariableA("LINKSET_TEST_CODEPAGE", wanted, sizeof wanted)) { ASSERT_EQ(std::to_string(GetACP()), wanted); }
    const std::string thirty(30, 'a'), character = "\x82\xA0";  // Shift-JIS HIRAGANA LETTER A
    const struct { std::string source, inSingleByte, inDoubleByte; } cases[] = {
        {thirty + character + "z", thirty + "\x82", thirty},  // the trail byte would be the 32nd
        {thirty.substr(1) + character, thirty.substr(1) + character, thirty.substr(1) + character},
    };
    for (const auto& c : cases) {
        char buffer[33];
        std::memset(buffer, '#', sizeof buffer);
        CopyStringBounded(buffer, c.source.c_str(), 32);
        EXPECT_EQ(std::string(buffer, strnlen(buffer, sizeof buffer)), GetACP() == 932 ? c.inDoubleByte : c.inSingleByte);
        EXPECT_EQ(buffer[32], '#') << "wrote past the buffer";
    }
}

}  // namespace
