// A host whose manager cannot start its maintenance thread, because one system call fails inside
// the library, takes the throw, unloads the library and lives on: no thread of the failed manager
// may be left to run the unloaded code, or this process dies.
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include <string>
#include <utility>

#include "child_process.h"
#include "import_patch.h"
#include "library_exception.h"
#include "recording_log.h"
#include "system/handles.h"

namespace {

constexpr const char* kKernel = "KERNEL32.dll";
constexpr const char* kFactory = "?LsCreateLinkSetManager@@YAPEAVILinkSetManager@@XZ";
constexpr const char* kSetDebugOutput = "?LsSetDebugOutput@@YAXPEAVIDebugLog@@@Z";
constexpr DWORD kLibraryWaitMs = 30000;  // for the thread's report, and for its end after a failed start
constexpr DWORD kShortWaitMs = 100;      // what the test makes of it
constexpr DWORD kTickWaitMs = 500;
constexpr DWORD kSlowTickMs = 3000;  // so that the thread is between ticks when the start ends it
constexpr DWORD kLivingOnMs = 4000;  // a thread left behind would have run unloaded code by then

bool g_waitFails = false;
decltype(&SetEvent) g_setEvent;
decltype(&WaitForMultipleObjectsEx) g_waitMultiple;
decltype(&WaitForSingleObject) g_waitSingle;
decltype(&WaitForSingleObjectEx) g_tick;

DWORD Shortened(DWORD ms) { return ms == kLibraryWaitMs ? kShortWaitMs : ms; }
BOOL WINAPI FakeSetEvent(HANDLE event) { return g_waitFails ? g_setEvent(event) : (SetLastError(ERROR_INVALID_HANDLE), FALSE); }
DWORD WINAPI FakeWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
    if (!g_waitFails) return g_waitMultiple(count, handles, all, Shortened(ms), alertable);
    g_waitMultiple(count, handles, all, ms, alertable);  // until the thread has reported
    return SetLastError(ERROR_INVALID_HANDLE), WAIT_FAILED;
}
DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD ms) { return g_waitSingle(handle, Shortened(ms)); }
DWORD WINAPI SlowTick(HANDLE handle, DWORD ms, BOOL alertable) { return g_tick(handle, ms == kTickWaitMs ? kSlowTickMs : ms, alertable); }

// This executable imports LinkSet.dll for good, so the host's library is a copy under a name of
// its own, loaded and unloaded the way a host does; the factory is taken from it.
TEST(StartFailure, TheHostTakesTheThrowUnloadsTheLibraryAndLivesOn) {
    const std::pair<bool, const char*> cases[] = {  // whether the wait fails (else SetEvent), the line
        // SetEvent fails: the procedure cannot report, but goes on ticking.
        {false, "GenericThread:StartThread(ERROR) waiting for thread time out."},
        // WaitForMultipleObjectsEx fails: the start cannot wait, while its thread runs the procedure.
        {true, "GenericThread:StartThread(ERROR) waiting for thread returned unknown error."}};
    const std::string copy = ThisExecutableFolder() + "\\LinkSetUnloaded.dll";
    ASSERT_TRUE(CopyFileA((ThisExecutableFolder() + "\\LinkSet.dll").c_str(), copy.c_str(), FALSE));
    for (const auto& [waitFails, line] : cases) {
        SCOPED_TRACE(line);
        g_waitFails = waitFails;
        UniqueModule library(LoadLibraryA(copy.c_str()));
        ASSERT_TRUE(library);
        const HMODULE dll = library.get();
        RecordingDebugLog log;
        {
            ScopedDebugLog installed(log, ResolveEntryPoint<ScopedDebugLog::Setter>(dll, kSetDebugOutput));
            ImportPatch factory(ThisExecutable(), "LinkSet.dll", kFactory, ResolveEntryPoint<void*>(dll, kFactory));
            ImportPatch setEvent(dll, kKernel, "SetEvent", &FakeSetEvent, &g_setEvent);
            ImportPatch waitMultiple(dll, kKernel, "WaitForMultipleObjectsEx", &FakeWaitForMultipleObjectsEx, &g_waitMultiple);
            ImportPatch waitSingle(dll, kKernel, "WaitForSingleObject", &FakeWaitForSingleObject, &g_waitSingle);
            ImportPatch tick(dll, kKernel, "WaitForSingleObjectEx", &SlowTick, &g_tick);
            CQndException* failure = nullptr;
            EXPECT_EQ(CreateManagerCatchingFailure(&failure), nullptr);
            ASSERT_NE(failure, nullptr);
            failure->Delete();
        }
        EXPECT_TRUE(log.WroteOnly(line));
        library.reset();
        ASSERT_EQ(GetModuleHandleA("LinkSetUnloaded.dll"), nullptr);
        Sleep(kLivingOnMs);
    }
    DeleteFileA(copy.c_str());
}

}  // namespace
