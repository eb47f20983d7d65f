// Starting programs, and this test executable again as a child whose tests read ChildArgument().
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "registry_scenario.h"  // and <windows.h>, <string>, <vector>, system/handles.h

struct ChildRun {
    unsigned long exitCode = 0;
    std::string output;
    bool hung = false;
};

struct ChildOptions {
    std::string folder = "";          // where the copy lies (a double there comes first); "" = beside this
    std::string windowsVersion = "";  // Wine's name ("win98", "nt40", ...); "" = the prefix's own
    // Load orders ({"iphlpapi", "native,builtin"}) in the child's settings: Wine ignores our WINE* ones.
    std::vector<std::pair<std::string, std::string>> dllOverrides = {};
    // Put into the system directory for the run; only a load order preferring native files shows it.
    std::string systemDouble = "";
    std::string childArgument = "1";     // what ChildArgument() answers in the child
    unsigned long timeoutMs = INFINITE;  // then the child is killed as hung
};

// Last on the child's command line, where gtest leaves it alone and no grandchild inherits it.
constexpr char kChildFlag[] = " --linkset_child=";

inline std::string ChildArgument() {
    const char* flag = std::strstr(GetCommandLineA(), kChildFlag);
    return flag ? flag + std::strlen(kChildFlag) : "";
}

inline std::string ThisExecutablePath() {
    char path[MAX_PATH] = {};
    return std::string(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
}
inline std::string FileName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }
inline std::string ThisExecutableFolder() {
    const std::string path = ThisExecutablePath();
    return path.substr(0, path.find_last_of('\\'));
}

// A path of the Linux side (a build folder, say) as Windows programs under Wine name it.
inline std::string WinePath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

template <class Undo>
struct ScopeExit { Undo undo; ~ScopeExit() { undo(); } };

// A program ended at scope exit; its input is a pipe that stays empty, so that a shell reading it waits.
class RunningProgram {
public:
    RunningProgram(const std::string& path, const std::string& arguments, HANDLE output = nullptr) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        UniqueHandle input;
        const UniqueFileHandle discard(CreateFileA("NUL", GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
        CreatePipe(input.put(), m_input.put(), &inherit, 0);
        SetHandleInformation(m_input.get(), HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.get();
        startup.hStdOutput = startup.hStdError = output != nullptr ? output : discard.get();
        std::string commandLine = "\"" + path + "\" " + arguments;
        PROCESS_INFORMATION started = {};
        if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &started))
            throw std::runtime_error("cannot start " + path + ": error " + std::to_string(GetLastError()));
        m_process.reset(started.hProcess);
        const UniqueHandle thread(started.hThread);
    }
    ~RunningProgram() {
        TerminateProcess(m_process.get(), 0);
        WaitForSingleObject(m_process.get(), INFINITE);
    }
    HANDLE Handle() const { return m_process.get(); }
    DWORD Id() const { return GetProcessId(m_process.get()); }

private:
    UniqueHandle m_input, m_process;
};

// Runs the tests matching `gtestFilter` in a child set up by `options` and waits for it.
inline ChildRun RunChild(const std::string& gtestFilter, const ChildOptions& options) {
    // A copy, "<stem>-child.exe", since Wine keys a program's settings by file name. A system double
    // sets Wine's placeholder file aside meanwhile; one a run that died set aside is the original, kept.
    const std::string self = ThisExecutablePath(), name = FileName(self);
    const std::string path = (options.folder.empty() ? ThisExecutableFolder() : options.folder) + "\\" +
                             name.substr(0, name.size() - std::strlen(".exe")) + "-child.exe";
    const std::string settings = "Software\\Wine\\AppDefaults\\" + FileName(path);
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, sizeof system);
    const std::string installed = system + ("\\" + FileName(options.systemDouble));
    const std::string saved = installed + ".linkset-saved";
    const bool install = !options.systemDouble.empty();
    if (install && GetFileAttributesA(saved.c_str()) == INVALID_FILE_ATTRIBUTES)
        MoveFileExA(installed.c_str(), saved.c_str(), MOVEFILE_REPLACE_EXISTING);
    RegDeleteTreeA(HKEY_CURRENT_USER, settings.c_str());
    const ScopeExit undo{[&] {
        DeleteFileA(path.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, settings.c_str());
        if (install && !MoveFileExA(saved.c_str(), installed.c_str(), MOVEFILE_REPLACE_EXISTING))
            DeleteFileA(installed.c_str());
    }};
    if (!options.windowsVersion.empty())
        SetRegistryString(HKEY_CURRENT_USER, settings, "Version", options.windowsVersion);
    for (const auto& [dll, order] : options.dllOverrides)
        SetRegistryString(HKEY_CURRENT_USER, settings + "\\DllOverrides", dll, order);
    if (!CopyFileA(self.c_str(), path.c_str(), FALSE)) throw std::runtime_error("cannot copy to " + path);
    if (install && !CopyFileA(options.systemDouble.c_str(), installed.c_str(), FALSE))
        throw std::runtime_error("cannot install " + options.systemDouble + " as " + installed);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const UniqueFileHandle output(CreateFileA((path + ".output").c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit,
                                              CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!output) throw std::runtime_error("cannot create " + path + ".output");
    const RunningProgram child(path, "--gtest_filter=" + gtestFilter + kChildFlag + options.childArgument,
                               output.get());
    ChildRun run;
    run.hung = WaitForSingleObject(child.Handle(), options.timeoutMs) == WAIT_TIMEOUT;
    if (run.hung) TerminateProcess(child.Handle(), ERROR_TIMEOUT);
    WaitForSingleObject(child.Handle(), INFINITE);
    GetExitCodeProcess(child.Handle(), &run.exitCode);
    run.output.resize(GetFileSize(output.get(), nullptr));
    DWORD got = 0;
    SetFilePointer(output.get(), 0, nullptr, FILE_BEGIN);
    ReadFile(output.get(), run.output.data(), static_cast<DWORD>(run.output.size()), &got, nullptr);
    return run;
}

// True when the child failed no test and passed at least one (the others skip themselves).
inline bool ChildPassed(const ChildRun& run) {
    constexpr char kPassed[] = "[  PASSED  ] ";
    const std::size_t passed = run.output.find(kPassed);
    return run.exitCode == 0 && passed != std::string::npos &&
           std::atoi(run.output.c_str() + passed + sizeof kPassed - 1) > 0;
}

// Runs the calling test in a child: `if (ChildArgument().empty()) return ExpectChildPasses({...});`
inline void ExpectChildPasses(const ChildOptions& options) {
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    const ChildRun run = RunChild(std::string(test.test_suite_name()) + "." + test.name(), options);
    EXPECT_TRUE(ChildPassed(run)) << options.windowsVersion << " " << options.childArgument << ":\n" << run.output;
}
