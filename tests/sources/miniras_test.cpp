// The Remote Access binding in children of their own, since its count is the process's: beside
// the Remote Access double, with a double lacking RasHangUpA, and on NT 4 with a "RasMan"
// service created for real.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include <linkset/linkset.h>

#include "child_process.h"
#include "import_patch.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "sources/miniras.h"
#include "test_service.h"

namespace {

constexpr char kRasLibrary[] = "rasapi32.dll";

int g_rasLoads = 0;
decltype(&LoadLibraryA) g_loadLibrary = nullptr;
HMODULE WINAPI CountingLoadLibrary(const char* name) {
    if (_stricmp(name, kRasLibrary) == 0) ++g_rasLoads;
    return g_loadLibrary(name);
}

TEST(MiniRas, CountsReferencesChecksTheLibraryAndStartsRasManOnNt4) {
    const struct {
        const char* role;
        const char* version;
        const char* systemDouble;  // in the system directory for the child's run
    } children[] = {
        {"double", "", DOUBLES_DIR "/rasapi32_double/rasapi32.dll"},
        {"partial", "", DOUBLES_DIR "/rasapi32_without_hang_up/rasapi32.dll"},
        {"nt40", "nt40", nullptr},
    };
    for (const auto& c : children) {
        ChildOptions options;
        options.childArgument = c.role;
        options.windowsVersion = c.version;
        if (c.systemDouble) {
            options.systemDouble = WinePath(c.systemDouble);
            options.dllOverrides = {{"rasapi32", "native"}};
        }
        const ChildRun run = RunChild("MiniRasChild.*", options);
        EXPECT_TRUE(ChildPassed(run)) << c.role << ":\n" << run.output;
    }
}

// The count starts with a standing reference: balanced pairs never free the library, the one
// unbalanced unload does, and from 0 every wrapper loads and frees it again.
TEST(MiniRasChild, LoadsOnceAndFreesWhenTheStandingReferenceIsDropped) {
    if (ChildArgument() != "double") GTEST_SKIP() << "runs only as a child";
    const ImportPatch loads(ThisExecutable(), "KERNEL32.dll", "LoadLibraryA", &CountingLoadLibrary, &g_loadLibrary);
    char deviceType[kRasDeviceTypeRoom];
    EXPECT_EQ(MiniRasGetEntryDeviceType(nullptr, deviceType), -1);
    EXPECT_EQ(g_rasLoads, 0) << "nothing is loaded for a null entry";
    ASSERT_EQ(MiniRasLoad(), 0);
    ASSERT_EQ(MiniRasLoad(), 0);
    EXPECT_EQ(g_rasLoads, 1);
    RasEntryNameRecord entry = {sizeof entry, {}, 0, {}};
    DWORD size = sizeof entry, count = 1;
    EXPECT_EQ(MiniRasEnumEntries(nullptr, "C:\\elsewhere.pbk", &entry, &size, &count), 0) << "always the default book";
    MiniRasUnload();
    MiniRasUnload();
    EXPECT_TRUE(IsModuleLoaded(kRasLibrary));
    MiniRasUnload();
    EXPECT_FALSE(IsModuleLoaded(kRasLibrary));
    MiniRasUnload();  // at 0 already
    RasConnRecord connection = {};
    connection.dwSize = size = sizeof connection;
    EXPECT_EQ(MiniRasEnumConnections(&connection, &size, &count), 0);
    EXPECT_FALSE(IsModuleLoaded(kRasLibrary));
    EXPECT_EQ(g_rasLoads, 2);
}

TEST(MiniRasChild, ALibraryLackingOneNameIsFreedAndTriedAgain) {
    if (ChildArgument() != "partial") GTEST_SKIP() << "runs only as a child";
    const ImportPatch loads(ThisExecutable(), "KERNEL32.dll", "LoadLibraryA", &CountingLoadLibrary, &g_loadLibrary);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        EXPECT_EQ(MiniRasLoad(), -1);
        EXPECT_FALSE(IsModuleLoaded(kRasLibrary));
        EXPECT_EQ(g_rasLoads, attempt);
    }
}

// The service's state right after the start request decides; the not-installed line comes once.
TEST(MiniRasChild, OnNt4TheRasManServiceMustRunRightAfterTheStartRequest) {
    if (ChildArgument() != "nt40") GTEST_SKIP() << "runs only as a child";
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    const std::string waiting = "Waiting for RAS service  ";
    using Behaviour = TestService::Behaviour;
    const struct {
        const char* name;
        std::optional<Behaviour> service;
        int loads, result;
        std::vector<std::string> lines;
    } rows[] = {
        {"stopped, still starting when read", Behaviour::StaysStarting, 1, -1,
         {waiting, "Start Ras Service...\n", "ras has not started, exit right away \n",
          "It is timeout to wait for ras started.NOTE: Under WinNT, Remote access autodial manager service shall be "
          "Automatic in startup option. To do that, reboot and try again.\n"}},
        {"running", Behaviour::Runs, 1, 0, {waiting, "done\n"}},
        {"not installed", std::nullopt, 3, -1, {"miniras: RAS was not installed.\n"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<TestService> service;
        if (row.service) service.emplace("RasMan", *row.service);
        if (row.service == Behaviour::Runs) service->Start();
        log.Clear();
        for (int i = 0; i < row.loads; ++i) EXPECT_EQ(MiniRasLoad(), row.result);
        EXPECT_EQ(log.Lines(), row.lines);
        if (row.service == Behaviour::StaysStarting) {
            EXPECT_EQ(service->State(), static_cast<DWORD>(SERVICE_START_PENDING)) << "the start was asked for";
        }
        if (row.result == 0) {  // down to 0, so that the next load starts afresh
            MiniRasUnload();
            MiniRasUnload();
        }
    }
}

}  // namespace
