// Bindings to the network sources; children, since a binding is the process's, get doubles first.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <memory>

#include "child_process.h"  // and <windows.h>, <optional>, <string>, <vector>
#include "fake_ip_helper.h"
#include "import_patch.h"  // and <stdexcept>
#include "manager/dialup_discovery.h"
#include "recording_log.h"
#include "sources/ip_helper.h"

namespace {

std::string DoubleDir(const std::string& name) { return WinePath(DOUBLES_DIR "/" + name); }

bool g_askedForTheFallback = false;
decltype(&VerQueryValueW) g_realVerQueryValue = nullptr;
BOOL WINAPI RecordingVerQueryValueW(LPCVOID block, LPCWSTR query, LPVOID* value, PUINT length) {
    g_askedForTheFallback |= std::wstring(query) == L"\\StringFileInfo\\040904E4\\FileVersion";
    return g_realVerQueryValue(block, query, value, length);
}

// Copies under a name Wine has no library of; their strings lie only in the fallback table, asked for by
// its exact name.
TEST(FileVersion, KeepsTheDescriptionOfAFileWithoutVersionString) {
    const ImportPatch recording(ThisExecutable(), "VERSION.dll", "VerQueryValueW", &RecordingVerQueryValueW,
                                &g_realVerQueryValue);
    for (const auto& [dir, result] : {std::pair{"iphlpapi_unfixed", 0}, {"iphlpapi_no_file_version", -1}}) {
        FileVersionRecord record;
        EXPECT_EQ(ReadFileVersion((DoubleDir(dir) + "\\version_sample.dll").c_str(), record), result) << dir;
        EXPECT_STREQ(record.fileDescription.c_str(), "IP Helper double") << dir;
    }
    EXPECT_TRUE(g_askedForTheFallback) << "the fallback string block, named exactly";
}

// A copy beside the program comes first, as on Windows; a refused build sends the search to the system one.
TEST(IpHelper, TakesTheFirstAcceptableCopyOnTheSearchPath) {
    const struct { const char* dir; bool inSystemToo, isTheDouble, bound; const char* line; } cases[] = {
        {"iphlpapi_refused", false, false, true, nullptr},
        {"iphlpapi_partial", false, true, true, "some function can't be loaded!\n"},  // lacks GetIpNetTable
        {"iphlpapi_refused", true, false, false, "Can't load Iphlpapi.dll\n"}};
    if (ChildArgument().empty()) {
        for (std::size_t i = 0; i < std::size(cases); ++i)
            ExpectChildPasses({.folder = DoubleDir(cases[i].dir), .dllOverrides = {{"iphlpapi", "native,builtin"}},
                               .systemDouble = cases[i].inSystemToo ? DoubleDir(cases[i].dir) + "\\iphlpapi.dll" : "",
                               .childArgument = std::to_string(i)});
        return;
    }
    const auto& c = cases[std::stoul(ChildArgument())];
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    const CIpHelperAPI ipHelper;
    EXPECT_EQ(log.Lines(), c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
    EXPECT_EQ(ResolveEntryPoint<LastIfTableOrderFunction>(GetModuleHandleA("iphlpapi.dll"), "LastIfTableOrder") != nullptr,
              c.isTheDouble);
    ULONG size = 0;  // a missing entry point costs only its own wrapper
    for (int answer : {ipHelper.GetAdaptersInfo(nullptr, &size), ipHelper.GetIfTable(nullptr, &size),
                       ipHelper.GetPerAdapterInfo(1, nullptr, &size)})
        EXPECT_EQ(answer != ERROR_NOT_SUPPORTED, c.bound);
}

DWORD g_tokenOwner = 0;  // whose token was asked for
int g_reverts = 0;
decltype(&OpenProcessToken) g_openProcessToken = nullptr;
decltype(&RevertToSelf) g_revertToSelf = nullptr;
decltype(&LoadLibraryA) g_loadLibrary = nullptr;
BOOL WINAPI WatchedOpenProcessToken(HANDLE p, DWORD a, HANDLE* t) { g_tokenOwner = GetProcessId(p); return g_openProcessToken(p, a, t); }
BOOL WINAPI CountedRevertToSelf() {
    ++g_reverts;
    return g_revertToSelf();
}
BOOL WINAPI RefusedToken(HANDLE process, DWORD, HANDLE*) { g_tokenOwner = GetProcessId(process); return SetLastError(ERROR_ACCESS_DENIED), FALSE; }
BOOL WINAPI RefusedImpersonation(HANDLE) { return SetLastError(ERROR_CANNOT_IMPERSONATE), FALSE; }
HMODULE WINAPI ThrowingRasLoad(const char* name) {
    if (_stricmp(name, "rasapi32.dll") == 0) throw std::runtime_error("no Remote Access");
    return g_loadLibrary(name);
}

struct Program { UINT(WINAPI* directoryOf)(char*, UINT); const char *file, *arguments = "/desktop=linkset,64x64"; };
const Program kShell = {&GetSystemDirectoryA, "cmd.exe", "/k"}, kExplorer = {&GetWindowsDirectoryA, "explorer.exe"},
              kSystemExplorer = {&GetSystemDirectoryA, "explorer.exe"};  // where Wine's desktop runs from

// Both passes take the first shell listed, whichever kind; a failure logs its line; none stays impersonating.
TEST(LogonUserImpersonator, EachPassTakesTheFirstShellOfTheProcessListAndAlwaysReverts) {
    struct Fault { const char *dll, *function; const void* replacement; };
    const Fault none = {}, throwing = {"KERNEL32.dll", "LoadLibraryA", reinterpret_cast<const void*>(&ThrowingRasLoad)};
    const struct { const char* name; std::vector<Program> started; Fault fault; bool found, impersonates; const char* line; } rows[] = {
        // First, while Remote Access is not loaded yet: later passes find it held by the standing reference.
        {"shell before Explorer; loading Remote Access throws", {kShell, kExplorer}, throwing, true, true, nullptr},
        {"no shell: an EXPLORER.EXE outside the Windows directory", {kSystemExplorer}, none, false, false, nullptr},
        {"the Explorer listed before a shell", {kExplorer, kShell}, none, true, true, nullptr},
        {"token refused", {kShell}, {"ADVAPI32.dll", "OpenProcessToken", reinterpret_cast<const void*>(&RefusedToken)},
         true, false, "LogonUserImpersonator: OpenProcessToken Failed, err: 5\n"},
        {"impersonation refused", {kShell}, {"ADVAPI32.dll", "ImpersonateLoggedOnUser", reinterpret_cast<const void*>(&RefusedImpersonation)},
         true, false, "LogonUserImpersonator: ImpersonateLoggedOnUser Failed, err: 1368\n"}};
    g_loadLibrary = &LoadLibraryA;
    const ImportPatch token(ThisExecutable(), "ADVAPI32.dll", "OpenProcessToken", &WatchedOpenProcessToken, &g_openProcessToken);
    const ImportPatch revert(ThisExecutable(), "ADVAPI32.dll", "RevertToSelf", &CountedRevertToSelf, &g_revertToSelf);
    RecordingDebugLog log;
    const ScopedDebugLog installed(log, &LsSetDebugOutput);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::unique_ptr<RunningProgram>> running;
        for (const Program& program : row.started) {
            char directory[MAX_PATH] = {};
            program.directoryOf(directory, MAX_PATH);
            running.push_back(std::make_unique<RunningProgram>(std::string(directory) + "\\" + program.file, program.arguments));
        }
        PortList ports;
        CCoreRtCriticalSectionEx lock;
        std::optional<ImportPatch> failure;
        if (row.fault.function) failure.emplace(ThisExecutable(), row.fault.dll, row.fault.function, row.fault.replacement);
        g_tokenOwner = g_reverts = 0;
        log.Clear();
        int thrown = 0;
        for (const bool phoneBook : {true, false}) {
            try {
                phoneBook ? RefreshDialUpEntries(ports, lock, RasConnLayout::Other) : MarkVpnConnections(ports, RasConnLayout::Other);
            } catch (const std::runtime_error&) { ++thrown; }
            UniqueHandle impersonation;
            EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, impersonation.put()));
        }
        EXPECT_EQ(g_tokenOwner, row.found ? running[0]->Id() : 0u);
        EXPECT_EQ(g_reverts, row.impersonates ? 2 : 0);
        EXPECT_EQ(thrown, row.fault.function == throwing.function ? 2 : 0);
        EXPECT_EQ(log.Lines(), (row.line ? std::vector<std::string>{row.line, row.line} : std::vector<std::string>{}));
    }
}

}  // namespace
