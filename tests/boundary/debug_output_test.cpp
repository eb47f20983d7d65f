// The one path by which lines reach the host's log; the exports themselves are checked through
// the DLL by the contract tests and the MSVC-ABI reference host.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include "boundary/debug_output.h"
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

}  // namespace
