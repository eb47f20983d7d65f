// The debug-output path and the pure-call handler; the exports themselves are checked through
// the DLL by the contract tests and the MSVC-ABI reference host.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include "boundary/debug_output.h"
#include "boundary/pure_call.h"
#include "recording_log.h"

namespace {

TEST(DebugOutput, LinesReachAnEnabledLogOnlyAndEndInALineFeed) {
    WriteDebugLine("nobody listens");  // no log installed: nothing happens
    RecordingDebugLog log;
    {
        ScopedDebugLog installed(log, &LsSetDebugOutput);
        log.enabled = false;
        WriteDebugLine("muted");
        EXPECT_EQ(log.isEnabledCalls, 1);
        log.enabled = true;
        WriteDebugLine("GenericThread: a line");
        WriteDebugText("Waiting for RAS service  ");
        WriteDebugLine("");
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{"GenericThread: a line\n", "Waiting for RAS service  ", "\n"}));
    }
    log.Clear();
    WriteDebugLine("after removal");
    ScopedDebugLog resumed(log, &LsSetDebugOutput);
    WriteDebugLine("resumed");
    EXPECT_TRUE(log.WroteOnly("resumed"));
}

// Steps over the breakpoint instruction, as a developer's debugger would.
int g_breakpoints = 0;
LONG CALLBACK SkipBreakpoint(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;
    ++g_breakpoints;
    if (*reinterpret_cast<const unsigned char*>(pointers->ContextRecord->Rip) == 0xCC) pointers->ContextRecord->Rip++;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Calls the pure slot of an abstract class's own table, as a call from its constructor would.
// Going through the table by hand keeps the compiler from taking the runtime's hook for one that
// never returns.
class Abstract {
public:
    Abstract() {
        void* volatile* table = *reinterpret_cast<void* volatile* volatile*>(this);
        answer = reinterpret_cast<int (*)(Abstract*)>(table[2])(this);  // GCC: two destructor slots first
    }
    virtual ~Abstract() = default;
    virtual int Slot() = 0;
    int answer = -1;
};
class Concrete final : public Abstract {
public:
    int Slot() override { return 7; }
};

TEST(PureCall, ReportsBreaksAndGoesOn) {
    RecordingDebugLog log;
    ScopedDebugLog installed(log, &LsSetDebugOutput);
    PVOID handler = AddVectoredExceptionHandler(1, &SkipBreakpoint);
    EXPECT_EQ(PureCallHandler(), 0);  // also what links the handler into this test executable
    Concrete object;                  // the runtime's pure-virtual hook leads to the same handler
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(object.answer, 0);
    EXPECT_EQ(g_breakpoints, 2);
    EXPECT_EQ(log.Lines(), std::vector<std::string>(2, "<Linkset>: pure function exception.\n"));
}

}  // namespace
