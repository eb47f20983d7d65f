#include "system/generic_thread.h"

#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
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
constexpr DWORD kTerminated = 0xFFFFFFFF;
constexpr SIZE_T kPageBytes = 4096;
constexpr const char* kToStop = "GenericThread_ToStop";
constexpr const char* kRunning = "GenericThread_Running";
constexpr const char* kFailRunning = "GenericThread_FailRunning";

std::string NameOf(const char* base, uint32_t id) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%x", base, static_cast<unsigned>(id));
    return name;
}

bool StartsWith(const char* text, const char* prefix) {
    return text != nullptr && prefix != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Faults injected through this executable's imports. Event calls are picked by name; thread
// creation and the start wait by the test's own thread, since the runtime makes them too.
struct Faults {
    std::atomic<const char*> failCreateEvent{nullptr}, failOpenEvent{nullptr};
    std::atomic<DWORD> failThreadCreationOn{0}, waitAnswerOn{0}, waitAnswer{0}, exitCodeError{ERROR_SUCCESS};
    std::atomic<bool> hold{false};  // holds a new worker at its first call until the gate opens
    HANDLE gate = nullptr;
    std::atomic<DWORD> heldThread{0};
    std::mutex mutex;
    std::vector<std::string> created;
};
Faults* g_faults;

decltype(&CreateEventA) g_createEvent;
decltype(&OpenEventA) g_openEvent;
decltype(&WaitForMultipleObjectsEx) g_waitMultiple;
decltype(&GetExitCodeThread) g_exitCode;
using BeginThread = uintptr_t(__cdecl*)(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*);
BeginThread g_beginThread;

HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCSTR name) {
    if (StartsWith(name, "GenericThread_")) {
        {
            std::lock_guard<std::mutex> guard(g_faults->mutex);
            g_faults->created.push_back(name);
        }
        if (g_faults->hold && StartsWith(name, kToStop)) {
            g_faults->heldThread = GetCurrentThreadId();
            WaitForSingleObject(g_faults->gate, INFINITE);
        }
        if (StartsWith(name, g_faults->failCreateEvent)) return SetLastError(ERROR_ACCESS_DENIED), nullptr;
    }
    return g_createEvent(security, manual, initial, name);
}
HANDLE WINAPI FakeOpenEventA(DWORD access, BOOL inherit, LPCSTR name) {
    if (StartsWith(name, g_faults->failOpenEvent)) return SetLastError(ERROR_FILE_NOT_FOUND), nullptr;
    return g_openEvent(access, inherit, name);
}
DWORD WINAPI FakeWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
    if (g_faults->waitAnswerOn == GetCurrentThreadId()) return g_faults->waitAnswer;
    return g_waitMultiple(count, handles, all, ms, alertable);
}
BOOL WINAPI FakeGetExitCodeThread(HANDLE thread, LPDWORD code) {
    if (g_faults->exitCodeError != ERROR_SUCCESS) return SetLastError(g_faults->exitCodeError), FALSE;
    return g_exitCode(thread, code);
}
uintptr_t __cdecl FakeBeginThreadEx(void* security, unsigned stack, unsigned(__stdcall* start)(void*), void* argument,
                                    unsigned flags, unsigned* id) {
    if (g_faults->failThreadCreationOn == GetCurrentThreadId()) return 0;
    return g_beginThread(security, stack, start, argument, flags, id);
}

// The one procedure of these tests; the probe it is given says how it behaves and keeps what
// it saw.
enum class Behaviour { RunUntilStopped, ReturnAtOnce, ReportFailure, IgnoreStop };
struct Probe {
    Behaviour behaviour;
    std::atomic<int> calls{0};
    std::atomic<uint32_t> id{0};
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> sawStop{false};
};

void Work(GenericThreadContext* context, void* parameter) {
    auto& probe = *static_cast<Probe*>(parameter);
    ++probe.calls;
    probe.id = context->id;
    probe.threadId = GetCurrentThreadId();
    SetEvent(probe.behaviour == Behaviour::ReportFailure ? context->hFailRunning : context->hRunning);
    if (probe.behaviour == Behaviour::IgnoreStop) Sleep(INFINITE);
    if (probe.behaviour == Behaviour::RunUntilStopped)
        probe.sawStop = WaitForSingleObject(context->hToStop, INFINITE) == WAIT_OBJECT_0;
}

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
    GenericThreadTest() : m_log(log, &LsSetDebugOutput) {
        g_faults = &faults;
        Patch("kernel32.dll", "CreateEventA", &FakeCreateEventA, g_createEvent);
        Patch("kernel32.dll", "OpenEventA", &FakeOpenEventA, g_openEvent);
        Patch("kernel32.dll", "WaitForMultipleObjectsEx", &FakeWaitForMultipleObjectsEx, g_waitMultiple);
        Patch("kernel32.dll", "GetExitCodeThread", &FakeGetExitCodeThread, g_exitCode);
        Patch("msvcrt.dll", "_beginthreadex", &FakeBeginThreadEx, g_beginThread);
        faults.gate = g_createEvent(nullptr, TRUE, FALSE, nullptr);
    }
    ~GenericThreadTest() override {
        SetEvent(faults.gate);
        CloseHandle(faults.gate);
    }

    std::vector<std::string> TakeCreatedNames() {
        std::lock_guard<std::mutex> guard(faults.mutex);
        return std::exchange(faults.created, {});
    }
    static bool EventExists(const std::string& name) {
        return static_cast<bool>(UniqueHandle(g_openEvent(SYNCHRONIZE, FALSE, name.c_str())));
    }

    Faults faults;
    RecordingDebugLog log;

private:
    template <class F>
    void Patch(const char* dll, const char* function, F fake, F& original) {
        m_patches.push_back(std::make_unique<ImportPatch>(ThisExecutable(), dll, function, fake, &original));
    }
    std::vector<std::unique_ptr<ImportPatch>> m_patches;
    ScopedDebugLog m_log;
};

TEST_F(GenericThreadTest, RunsTheProcedureUntilStoppedThroughItsNamedEvents) {
    Probe first{Behaviour::RunUntilStopped}, second{Behaviour::RunUntilStopped};
    {
        GenericThread one(Work, &first), other(Work, &second);
        ASSERT_EQ(one.StartThread(kWaitMs), LS_OK);
        ASSERT_EQ(other.StartThread(kWaitMs), LS_OK);
        EXPECT_EQ(one.StartThread(kWaitMs), LS_OK);  // already started: no second thread

        // Built back to back, yet each has events of its own, named in lower-case hex.
        EXPECT_NE(first.id, second.id);
        const std::vector<std::string> names = TakeCreatedNames();
        for (const char* base : {kToStop, kRunning, kFailRunning}) {
            EXPECT_NE(std::find(names.begin(), names.end(), NameOf(base, first.id)), names.end()) << base;
            EXPECT_TRUE(EventExists(NameOf(base, second.id))) << base;
        }
        EXPECT_EQ(one.StopThread(kWaitMs), LS_OK);
        EXPECT_TRUE(first.sawStop);
        EXPECT_FALSE(EventExists(NameOf(kToStop, first.id)));
        EXPECT_EQ(one.StopThread(kWaitMs), LS_OK);
    }
    EXPECT_TRUE(second.sawStop) << "the destructor stops a started thread";
    EXPECT_EQ(first.calls + second.calls, 2);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(GenericThreadTest, StopSignalsWaitsAndTerminatesAsALastResort) {
    const std::string active = "This thread is active! It will be terminated!\n";
    const std::string noEvent = "OpenEvent return NULL and this thread is active! try wait for a moment\n";
    const std::string noCode = "GenericThread:StopThread(ERROR) failed to get thread code. errcode6\n";
    const struct {
        Behaviour behaviour;
        const char* failOpen;
        DWORD exitCodeError;
        int result;
        std::vector<std::string> lines;
        bool leftRunning;
        DWORD exitCode;
    } cases[] = {
        {Behaviour::ReturnAtOnce, nullptr, ERROR_SUCCESS, LS_OK, {}, false, 0},  // ended before: quiet
        {Behaviour::IgnoreStop, nullptr, ERROR_SUCCESS, LS_ERROR_THREAD_TERMINATED, {active}, false, kTerminated},
        {Behaviour::RunUntilStopped, kToStop, ERROR_SUCCESS, LS_ERROR_THREAD_TERMINATED, {noEvent, active}, false,
         kTerminated},
        // An unreadable code counts as 0, not as still active, so nothing is terminated.
        {Behaviour::RunUntilStopped, kToStop, ERROR_INVALID_HANDLE, LS_ERROR_THREAD_TERMINATED, {noCode, noCode},
         true, 0},
    };
    for (const auto& c : cases) {
        log.Clear();
        Probe probe{c.behaviour};
        GenericThread thread(Work, &probe);
        ASSERT_EQ(thread.StartThread(kWaitMs), LS_OK);
        const WatchedThread worker(probe.threadId);
        if (c.behaviour == Behaviour::ReturnAtOnce) {
            ASSERT_TRUE(worker.Ended());
        }
        faults.failOpenEvent = c.failOpen;
        faults.exitCodeError = c.exitCodeError;
        EXPECT_EQ(thread.StopThread(kShortStopMs), c.result);
        faults.failOpenEvent = nullptr;
        faults.exitCodeError = ERROR_SUCCESS;
        EXPECT_EQ(log.Lines(), c.lines);
        if (c.leftRunning) SetEvent(UniqueHandle(g_openEvent(EVENT_MODIFY_STATE, FALSE, NameOf(kToStop, probe.id).c_str())).get());
        ASSERT_TRUE(worker.Ended());
        EXPECT_EQ(worker.ExitCode(), c.exitCode);
    }
}

TEST_F(GenericThreadTest, EachStartFailureSaysWhyAndLeavesNothingOpen) {
    const struct {
        const char* failCreate;
        bool failThread;
        Behaviour behaviour;
        const char* line;
    } cases[] = {
        {kRunning, false, Behaviour::RunUntilStopped, "GenericThread:StartThread(ERROR) failed to create running event."},
        {kFailRunning, false, Behaviour::RunUntilStopped,
         "GenericThread: StartThread(ERROR) failed to create failrunning event."},
        {nullptr, true, Behaviour::RunUntilStopped, "GenericThread:StartThread(ERROR) failed to create thread."},
        {nullptr, false, Behaviour::ReportFailure, "GenericThread : StartTread(ERROR) can't start."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        log.Clear();
        TakeCreatedNames();
        Probe probe{c.behaviour};
        GenericThread thread(Work, &probe);
        faults.failCreateEvent = c.failCreate;
        faults.failThreadCreationOn = c.failThread ? GetCurrentThreadId() : 0;
        EXPECT_EQ(thread.StartThread(kWaitMs), LS_ERROR_FAILED);
        faults.failCreateEvent = nullptr;
        faults.failThreadCreationOn = 0;
        EXPECT_TRUE(log.WroteOnly(c.line));
        if (probe.calls > 0) {
            ASSERT_TRUE(WatchedThread(probe.threadId).Ended());
        }
        for (const std::string& name : TakeCreatedNames()) EXPECT_FALSE(EventExists(name)) << name;
        if (c.behaviour == Behaviour::ReportFailure) continue;

        EXPECT_EQ(probe.calls, 0);
        EXPECT_EQ(thread.StartThread(kWaitMs), LS_OK) << "a failed start may be retried";
        EXPECT_EQ(thread.StopThread(kWaitMs), LS_OK);
    }
    log.Clear();
    EXPECT_EQ(GenericThread(nullptr, nullptr).StartThread(kWaitMs), LS_ERROR_FAILED);
    EXPECT_TRUE(log.Lines().empty());
}

// A worker is held at its first call until StartThread has given up and the GenericThread and
// its parameter are destroyed and their page released. Let go, the worker must neither run the
// procedure nor read the object: either would fault on the released page.
TEST_F(GenericThreadTest, AWorkerLetGoAfterTheStartGaveUpNeverRunsTheProcedure) {
    const std::string unknown = "GenericThread:StartThread(ERROR) waiting for thread returned unknown error.";
    const std::pair<DWORD, std::string> cases[] = {
        {WAIT_TIMEOUT, "GenericThread:StartThread(ERROR) waiting for thread time out."},
        {WAIT_FAILED, unknown},
        {WAIT_IO_COMPLETION, unknown},
    };
    for (const auto& [answer, line] : cases) {
        log.Clear();
        ResetEvent(faults.gate);
        faults.heldThread = 0;
        faults.hold = true;
        faults.waitAnswer = answer;
        faults.waitAnswerOn = GetCurrentThreadId();
        void* page = VirtualAlloc(nullptr, kPageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ASSERT_NE(page, nullptr);
        auto* probe = new (page) Probe{Behaviour::ReturnAtOnce};
        auto* thread = new (static_cast<char*>(page) + kPageBytes / 2) GenericThread(Work, probe);
        EXPECT_EQ(thread->StartThread(kWaitMs), LS_ERROR_FAILED);
        faults.waitAnswerOn = 0;
        EXPECT_TRUE(log.WroteOnly(line));

        for (DWORD waited = 0; faults.heldThread == 0 && waited < kWaitMs; ++waited) Sleep(1);
        const WatchedThread worker(faults.heldThread);
        thread->~GenericThread();
        probe->~Probe();
        VirtualFree(page, 0, MEM_RELEASE);
        faults.hold = false;
        SetEvent(faults.gate);
        ASSERT_TRUE(worker.Ended());
        EXPECT_EQ(worker.ExitCode(), 0u);
    }
}

}  // namespace
