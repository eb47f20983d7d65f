// The library's side of the boundary: the one path by which lines reach the host's log, the text
// type, the exception's own memory and the copy of a port record. The exports themselves, what
// the exception carries and its Delete through slot 1, and that GetPorts writes records 6054 bytes
// apart and leaves the reserved bytes alone are checked through the DLL by the contract tests,
// the MSVC-ABI reference host and the manager's failed ticks.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "boundary/debug_output.h"
#include "boundary/exception.h"
#include "boundary/outputstr.h"
#include "import_patch.h"
#include "manager/port_info.h"
#include "recording_log.h"

namespace {

TEST(DebugOutput, LinesReachAnEnabledLogOnlyAndEndInALineFeed) {
    WriteDebugLine("nobody listens");  // no log installed: nothing happens
    RecordingDebugLog log;
    {
        ScopedDebugLog installed(log, &LsSetDebugOutput);
        log.enabled = false;
        WriteDebugLine("muted");
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

std::atomic<int> g_frees{0};
void(__cdecl* g_realFree)(void*) = nullptr;
void __cdecl CountingFree(void* block) {
    if (block != nullptr) ++g_frees;
    g_realFree(block);
}

TEST(QndException, DeleteFreesItsThreeTextsAndItself) {
    CQndException* e = CreateQndException(outputstr("reason"), "file", 1);
    ASSERT_NE(e, nullptr);
    g_frees = 0;
    {
        ImportPatch countFrees(ThisExecutable(), "msvcrt.dll", "free", &CountingFree, &g_realFree);
        e->Delete();
    }
    EXPECT_EQ(g_frees, 4);
}

TEST(OutputStr, ConcatenatesTextNumbersAndCharacters) {
    const outputstr empty;
    const outputstr s = outputstr("n=") + 4294967295ul + ' ' + -5 + '\0' + empty + "/" + outputstr("x");
    EXPECT_STREQ(s.text, "n=4294967295 -5/x");
    EXPECT_EQ(s.length, 17u);
    EXPECT_EQ((outputstr() + '\0').text, nullptr);
}

// Refuses to grow one block only: the C++ runtime itself grows its own blocks while it throws.
void* g_blockToRefuse = nullptr;
void*(__cdecl* g_realRealloc)(void*, size_t) = nullptr;
void* __cdecl RefusingRealloc(void* block, size_t size) {
    return block == g_blockToRefuse ? nullptr : g_realRealloc(block, size);
}

TEST(OutputStr, FailedGrowthThrowsAndKeepsTheText) {
    outputstr s("0123456789abcde");  // 15 characters: the block is full
    char* const block = s.text;
    g_blockToRefuse = block;
    std::string message;
    {
        ImportPatch failRealloc(ThisExecutable(), "msvcrt.dll", "realloc", &RefusingRealloc, &g_realRealloc);
        try {
            s.Append("f");
        } catch (const std::bad_alloc& error) {
            message = error.what();
        }
    }
    EXPECT_EQ(message, "outputstr failed to allocate memory");
    EXPECT_EQ(s.text, block);
    EXPECT_EQ(s.length, 15u);
    EXPECT_STREQ(s.text, "0123456789abcde");
}

bool AllBytesAre(const void* begin, size_t size, unsigned char value) {
    const auto* bytes = static_cast<const unsigned char*>(begin);
    return std::all_of(bytes, bytes + size, [value](unsigned char byte) { return byte == value; });
}

// A count beyond a list's room is capped, and the elements behind a count stay as they were.
TEST(PortInfoCopy, CapsCountsAndLeavesElementsBehindThemAlone) {
    PORT_INFO source, destination;
    std::memset(&source, 0x22, sizeof source);
    std::memset(&destination, 0xEE, sizeof destination);
    source.IpAddressCount = 0x22222222;  // above the capacity
    source.DnsServerCount = 0;
    source.WinsServerCount = 2;

    CopyPortInfo(destination, source);

    EXPECT_EQ(destination.IpAddressCount, 200u);
    EXPECT_TRUE(AllBytesAre(destination.IpAddresses, sizeof destination.IpAddresses, 0x22));
    EXPECT_EQ(destination.DnsServerCount, 0u);
    EXPECT_TRUE(AllBytesAre(destination.DnsServers, sizeof destination.DnsServers, 0xEE));
    EXPECT_EQ(destination.WinsServerCount, 2u);
    EXPECT_TRUE(AllBytesAre(destination.WinsServers, 2 * sizeof(PORT_ADDRESS), 0x22));
    EXPECT_TRUE(AllBytesAre(destination.WinsServers + 2, 198 * sizeof(PORT_ADDRESS), 0xEE));
}

}  // namespace
