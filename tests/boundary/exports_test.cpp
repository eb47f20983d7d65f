#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include "boundary/debug_output.h"
#include "boundary/pure_call.h"
#include "recording_log.h"

namespace {

TEST(Exports, VersionCheckAcceptsThisAndOlderHostsOnly) {
    EXPECT_EQ(LsGetVersion(), 0x01000410ul);
    EXPECT_EQ(LsIsGoodVersion(0x01000410), 1);
    EXPECT_EQ(LsIsGoodVersion(0), 1);
    EXPECT_EQ(LsIsGoodVersion(0x01000411), 0);
    EXPECT_EQ(LsIsGoodVersion(0xFFFFFFFF), 0);
}

TEST(Exports, InstallerIsCreatedWithAnyArgumentsAndDoesNothing) {
    ILinkSetManagerInstaller* installer = LsCreateLinkSetManagerInstaller(nullptr, nullptr);
    ASSERT_NE(installer, nullptr);
    EXPECT_EQ(installer->PerformInstall(), 1);
    LsDeleteLinkSetManagerInstaller(installer);
    LsDeleteLinkSetManagerInstaller(nullptr);
}

TEST(DebugOutput, LinesReachAnEnabledLogOnlyAndEndInALineFeed) {
    WriteDebugLine("nobody listens");  // no log installed: nothing happens

    RecordingDebugLog log;
    {
        ScopedDebugLog installed(log, &LsSetDebugOutput);
        log.enabled = false;
        WriteDebugLine("muted");
        EXPECT_EQ(log.isEnabledCalls, 1);
        EXPECT_TRUE(log.Lines().empty());

        log.enabled = true;
        WriteDebugLine("GenericThread: a line");
        WriteDebugText("Waiting for RAS service  ");
        WriteDebugLine("");
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{"GenericThread: a line\n", "Waiting for RAS service  ", "\n"}));
    }
    log.Clear();
    WriteDebugLine("after removal");
    EXPECT_TRUE(log.Lines().empty());

    ScopedDebugLog resumed(log, &LsSetDebugOutput);
    WriteDebugLine("resumed");
    EXPECT_TRUE(log.WroteOnly("resumed"));
}

TEST(EventOutput, IsStoredAndRemoved) {
    auto callback = [](__QEL_EVENT_LOG, void*) {};
    LsSetEventOutput(callback);
    EXPECT_EQ(g_pfnEventOutput, static_cast<EventOutputCallback>(callback));
    LsSetEventOutput(nullptr);
    EXPECT_EQ(g_pfnEventOutput, nullptr);
}

// Steps over the breakpoint instruction so the test goes on as a developer's debugger would.
int g_breakpoints = 0;
LONG CALLBACK SkipBreakpoint(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;
    ++g_breakpoints;
    if (*reinterpret_cast<const unsigned char*>(pointers->ContextRecord->Rip) == 0xCC) pointers->ContextRecord->Rip++;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Calls the pure slot of an abstract class's own table, as a call from its constructor would
// reach it before the derived part exists. Going through the table by hand keeps the compiler
// from resolving the call itself (it would take the runtime's hook for one that never returns).
class Abstract {
public:
    Abstract() {
        using Slot2 = int (*)(Abstract*);
        void* volatile* table = *reinterpret_cast<void* volatile**>(this);
        answer = reinterpret_cast<Slot2>(table[2])(this);  // GCC: two destructor slots, then Slot
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

    EXPECT_EQ(PureCallHandler(), 0);
    EXPECT_EQ(g_breakpoints, 1);
    EXPECT_TRUE(log.WroteOnly("<Linkset>: pure function exception."));

    log.Clear();
    Concrete object;  // the runtime's pure-virtual hook leads to the same handler
    EXPECT_EQ(object.answer, 0);
    EXPECT_EQ(g_breakpoints, 2);
    EXPECT_TRUE(log.WroteOnly("<Linkset>: pure function exception."));

    RemoveVectoredExceptionHandler(handler);
}

}  // namespace
