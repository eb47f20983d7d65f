// Impersonation of the logged-on user on real processes: Wine's command shell and Explorer
// started by the test in the system and Windows directories, and a copy named EXPLORER.EXE
// elsewhere. Wine's own desktop Explorer runs from the system directory, so it never matches.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "import_patch.h"
#include "named_process.h"
#include "sources/logon_user_impersonator.h"
#include "system/handles.h"
#include "system_program.h"

namespace {

// Which process's token was asked for, and how often the thread reverted.
DWORD g_tokenOwner = 0;
int g_reverts = 0;
decltype(&OpenProcessToken) g_openProcessToken = nullptr;
decltype(&RevertToSelf) g_revertToSelf = nullptr;
BOOL WINAPI WatchedOpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    g_tokenOwner = GetProcessId(process);
    return g_openProcessToken(process, access, token);
}
BOOL WINAPI CountedRevertToSelf() {
    ++g_reverts;
    return g_revertToSelf();
}

bool ThreadImpersonates() {
    UniqueHandle token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) != FALSE;
}

enum class Program { Shell, Explorer, ExplorerElsewhere };

std::string Directory(UINT(WINAPI* directoryOf)(char*, UINT)) {
    char directory[MAX_PATH] = {};
    directoryOf(directory, MAX_PATH);
    return directory;
}

// A running process of the program; its id.
std::shared_ptr<void> Start(Program program, DWORD& id) {
    if (program == Program::ExplorerElsewhere) {
        auto copy = std::make_shared<NamedProcess>("EXPLORER.EXE");
        id = copy->Id();
        return copy;
    }
    auto started = program == Program::Shell
                       ? std::make_shared<SystemProgram>(Directory(&GetSystemDirectoryA) + "\\cmd.exe", "/k")
                       : std::make_shared<SystemProgram>(Directory(&GetWindowsDirectoryA) + "\\explorer.exe",
                                                         "/desktop=linkset,64x64");
    id = started->Id();
    return started;
}

// The first shell of the process list is the one impersonated, whichever kind; with none, the
// thread keeps its identity and nothing is reverted.
TEST(LogonUserImpersonator, TakesTheFirstShellOfTheProcessListAndRevertsOnlyWhatItTook) {
    const struct {
        const char* name;
        std::vector<Program> started;  // in this order
        bool found;                    // the first one started is taken
    } rows[] = {
        {"an EXPLORER.EXE outside the Windows directory", {Program::ExplorerElsewhere}, false},
        {"the command shell", {Program::Shell}, true},
        {"a shell listed before the Explorer", {Program::Shell, Program::Explorer}, true},
        {"the Explorer listed before a shell", {Program::Explorer, Program::Shell}, true},
    };
    const ImportPatch token(ThisExecutable(), "ADVAPI32.dll", "OpenProcessToken", &WatchedOpenProcessToken,
                            &g_openProcessToken);
    const ImportPatch revert(ThisExecutable(), "ADVAPI32.dll", "RevertToSelf", &CountedRevertToSelf, &g_revertToSelf);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::shared_ptr<void>> running;
        std::vector<DWORD> ids(row.started.size());
        for (std::size_t i = 0; i < row.started.size(); ++i) running.push_back(Start(row.started[i], ids[i]));
        g_tokenOwner = 0;
        g_reverts = 0;
        {
            LogonUserImpersonator impersonator;
            EXPECT_EQ(impersonator.Impersonate(), 0);
            EXPECT_EQ(ThreadImpersonates(), row.found);
        }
        EXPECT_FALSE(ThreadImpersonates());
        EXPECT_EQ(g_tokenOwner, row.found ? ids[0] : 0u);
        EXPECT_EQ(g_reverts, row.found ? 1 : 0);
    }
}

}  // namespace
