// Remote Access in the sources: the binding in children, since its count is the process's (beside
// a library lacking RasHangUpA, and on NT 4 with a "RasMan" service created for real), and the
// logged-on user's impersonation around both passes on real processes: Wine's command shell and
// Explorer started from the system and the Windows directory (Wine's desktop Explorer runs from
// the system directory, which never matches), against Wine's own Remote Access.
#include <gtest/gtest.h>
#include <windows.h>

#include <linkset/linkset.h>

#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "import_patch.h"
#include "manager/dialup_discovery.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "sources/miniras.h"
#include "system_program.h"
#include "test_service.h"

namespace {

DWORD g_tokenOwner = 0;  // whose token was asked for
int g_reverts = 0;
decltype(&OpenProcessToken) g_openProcessToken = nullptr;
decltype(&RevertToSelf) g_revertToSelf = nullptr;
decltype(&LoadLibraryA) g_loadLibrary = nullptr;
BOOL WINAPI WatchedOpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    g_tokenOwner = GetProcessId(process);
    return g_openProcessToken(process, access, token);
}
BOOL WINAPI CountedRevertToSelf() { return ++g_reverts, g_revertToSelf(); }
BOOL WINAPI RefusedToken(HANDLE process, DWORD, HANDLE*) {
    g_tokenOwner = GetProcessId(process);
    return SetLastError(ERROR_ACCESS_DENIED), FALSE;
}
BOOL WINAPI RefusedImpersonation(HANDLE) { return SetLastError(ERROR_CANNOT_IMPERSONATE), FALSE; }
HMODULE WINAPI ThrowingRasLoad(const char* name) {
    if (_stricmp(name, "rasapi32.dll") == 0) throw std::runtime_error("no Remote Access");
    return g_loadLibrary(name);
}

bool ThreadImpersonates() {
    UniqueHandle token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) != FALSE;
}

struct Program {
    UINT(WINAPI* directoryOf)(char*, UINT);
    const char *file, *arguments = "/desktop=linkset,64x64";  // the Explorer's
};
const Program kShell = {&GetSystemDirectoryA, "cmd.exe", "/k"}, kExplorer = {&GetWindowsDirectoryA, "explorer.exe"},
              kSystemExplorer = {&GetSystemDirectoryA, "explorer.exe"};

std::unique_ptr<SystemProgram> Start(const Program& program) {
    char directory[MAX_PATH] = {};
    program.directoryOf(directory, MAX_PATH);
    return std::make_unique<SystemProgram>(std::string(directory) + "\\" + program.file, program.arguments);
}

// The first shell of the process list is taken, whichever kind; with none the passes run as the thread is and
// nothing is reverted. A pass that cannot impersonate ends at once with its line, leaving the old phone-book
// entry. No pass, even one ended by an exception, leaves the thread impersonating.
TEST(LogonUserImpersonator, EachPassTakesTheFirstShellOfTheProcessListAndAlwaysReverts) {
    struct Fault { const char *dll, *function; const void* replacement; };
    const Fault none = {}, throwing = {"KERNEL32.dll", "LoadLibraryA", reinterpret_cast<const void*>(&ThrowingRasLoad)};
    const struct {
        const char* name;
        std::vector<Program> started;  // in this order
        Fault fault;
        bool found, impersonates;  // the first one started
        const char* line;          // from each pass, which then ends at once
    } rows[] = {
        // First, while Remote Access is not loaded yet: later passes find it held by the standing reference.
        {"ended by an exception when Remote Access loads", {kShell}, throwing, true, true, nullptr},
        {"no shell: an EXPLORER.EXE outside the Windows directory", {kSystemExplorer}, none, false, false, nullptr},
        {"the command shell", {kShell}, none, true, true, nullptr},
        {"a shell listed before the Explorer", {kShell, kExplorer}, none, true, true, nullptr},
        {"the Explorer listed before a shell", {kExplorer, kShell}, none, true, true, nullptr},
        {"token refused", {kShell}, {"ADVAPI32.dll", "OpenProcessToken", reinterpret_cast<const void*>(&RefusedToken)},
         true, false, "LogonUserImpersonator: OpenProcessToken Failed, err: 5\n"},
        {"impersonation refused", {kShell},
         {"ADVAPI32.dll", "ImpersonateLoggedOnUser", reinterpret_cast<const void*>(&RefusedImpersonation)}, true, false,
         "LogonUserImpersonator: ImpersonateLoggedOnUser Failed, err: 1368\n"},
    };
    g_loadLibrary = &LoadLibraryA;
    const ImportPatch token(ThisExecutable(), "ADVAPI32.dll", "OpenProcessToken", &WatchedOpenProcessToken,
                            &g_openProcessToken);
    const ImportPatch revert(ThisExecutable(), "ADVAPI32.dll", "RevertToSelf", &CountedRevertToSelf, &g_revertToSelf);
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::unique_ptr<SystemProgram>> running;
        for (const Program& program : row.started) running.push_back(Start(program));
        PortList ports;
        PORT_INFO& entry = *ports.emplace_back(std::make_unique<PORT_INFO>());
        entry.PortType = PORT_TYPE_DIALUP;
        entry.IsDialUp = 1;
        std::strcpy(entry.AdapterName, kPhoneBookAdapterName);
        CCoreRtCriticalSectionEx lock;
        std::optional<ImportPatch> failure;
        if (row.fault.function)
            failure.emplace(ThisExecutable(), row.fault.dll, row.fault.function, row.fault.replacement);
        g_tokenOwner = g_reverts = 0;
        log.Clear();
        int thrown = 0;
        for (const bool phoneBook : {true, false}) {
            try {
                phoneBook ? RefreshDialUpEntries(ports, lock, RasConnLayout::Other)
                          : MarkVpnConnections(ports, RasConnLayout::Other);
            } catch (const std::runtime_error&) {
                ++thrown;
            }
            EXPECT_FALSE(ThreadImpersonates());
        }
        EXPECT_EQ(g_tokenOwner, row.found ? running[0]->Id() : 0u);
        EXPECT_EQ(g_reverts, row.impersonates ? 2 : 0);
        EXPECT_EQ(thrown, row.fault.function == throwing.function ? 2 : 0);
        EXPECT_EQ(ports.size(), row.line ? 1u : 0u) << "Wine's phone book is empty: a pass that ran leaves none";
        EXPECT_EQ(log.Lines(), (row.line ? std::vector<std::string>{row.line, row.line} : std::vector<std::string>{}));
    }
}


int g_rasLoads = 0;
HMODULE WINAPI CountedLoadLibrary(const char* name) {
    g_rasLoads += _stricmp(name, "rasapi32.dll") == 0;
    return g_loadLibrary(name);
}

// All eight names are required, even those never called: the library is freed at once, the next load tries again.
TEST(MiniRas, ALibraryLackingOneNameIsFreedAndTriedAgain) {
    if (ChildArgument().empty()) return ExpectChildPasses({.dllOverrides = {{"rasapi32", "native"}},
                                                           .systemDouble = WinePath(DOUBLES_DIR "/rasapi32_without_hang_up/rasapi32.dll")});
    const ImportPatch loads(ThisExecutable(), "KERNEL32.dll", "LoadLibraryA", &CountedLoadLibrary, &g_loadLibrary);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        EXPECT_EQ(MiniRasLoad(), -1);
        EXPECT_FALSE(IsModuleLoaded("rasapi32.dll"));
        EXPECT_EQ(g_rasLoads, attempt);
    }
}

// The service's state right after the start request decides; the not-installed line comes once.
TEST(MiniRas, OnNt4TheRasManServiceMustRunRightAfterTheStartRequest) {
    if (ChildArgument().empty()) return ExpectChildPasses({.windowsVersion = "nt40"});
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
        else TestService::Remove("RasMan");  // also one a run that died left behind
        if (row.service == Behaviour::Runs) service->Start();
        log.Clear();
        for (int i = 0; i < row.loads; ++i) EXPECT_EQ(MiniRasLoad(), row.result);
        EXPECT_EQ(log.Lines(), row.lines);
        if (row.service == Behaviour::StaysStarting) {
            EXPECT_EQ(service->State(), static_cast<DWORD>(SERVICE_START_PENDING)) << "the start was asked for";
        }
        if (row.result == 0)  // down to 0, so that the next load starts afresh
            for (int i = 0; i < 2; ++i) MiniRasUnload();
    }
}

}  // namespace
