#include "child_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "registry_scenario.h"
#include "system/handles.h"
#include "test_threads.h"

namespace {

// The child's argument travels at the end of its command line, where gtest leaves it alone and
// where no grandchild inherits it.
constexpr char kChildFlag[] = " --linkset_child=";
constexpr DWORD kNoExitCode = static_cast<DWORD>(-1);
constexpr DWORD kPathSize = 32768;
constexpr char kWineAppDefaults[] = "Software\\Wine\\AppDefaults\\";

std::string ThisExecutablePath() {
    std::string path(kPathSize, '\0');
    path.resize(GetModuleFileNameA(nullptr, path.data(), kPathSize));
    return path;
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

std::string SystemDirectory() {
    char directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) throw std::runtime_error("no system directory");
    return std::string(directory, length);
}

// A double in the system directory; the prefix's own file (Wine's placeholder for its built-in
// library) is set aside and put back.
class SystemDouble {
public:
    explicit SystemDouble(const std::string& doublePath)
        : m_installed(SystemDirectory() + "\\" + FileName(doublePath)), m_saved(m_installed + ".linkset-saved") {
        // A saved file left by a run that died keeps the prefix's original; it is not overwritten.
        if (GetFileAttributesA(m_saved.c_str()) == INVALID_FILE_ATTRIBUTES)
            MoveFileExA(m_installed.c_str(), m_saved.c_str(), MOVEFILE_REPLACE_EXISTING);
        if (!CopyFileA(doublePath.c_str(), m_installed.c_str(), FALSE))
            throw std::runtime_error("cannot install " + doublePath + " as " + m_installed);
    }
    ~SystemDouble() {
        DeleteFileA(m_installed.c_str());
        MoveFileExA(m_saved.c_str(), m_installed.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    SystemDouble(const SystemDouble&) = delete;
    SystemDouble& operator=(const SystemDouble&) = delete;

private:
    std::string m_installed;
    std::string m_saved;
};

// A copy of this executable with Wine's settings for a program of its name; both go when the
// child is done.
class ChildProgram {
public:
    explicit ChildProgram(const ChildOptions& options) {
        const std::string self = ThisExecutablePath();
        const std::string stem = FileName(self).substr(0, FileName(self).size() - std::strlen(".exe"));
        m_path = (options.folder.empty() ? ThisExecutableFolder() : options.folder) + "\\" + stem + "-child.exe";
        m_settings = kWineAppDefaults + FileName(m_path);
        RegDeleteTreeA(HKEY_CURRENT_USER, m_settings.c_str());
        if (!options.windowsVersion.empty())
            SetRegistryString(HKEY_CURRENT_USER, m_settings, "Version", options.windowsVersion);
        for (const auto& [dll, order] : options.dllOverrides)
            SetRegistryString(HKEY_CURRENT_USER, m_settings + "\\DllOverrides", dll, order);
        if (!CopyFileA(self.c_str(), m_path.c_str(), FALSE)) throw std::runtime_error("cannot copy to " + m_path);
    }
    ~ChildProgram() {
        DeleteFileA(m_path.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, m_settings.c_str());
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_settings;
};

std::string ReadToEnd(HANDLE pipe) {
    std::string output;
    char buffer[4096];
    for (DWORD got = 0; ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0;) output.append(buffer, got);
    return output;
}

}  // namespace

ChildRun RunChild(const std::string& gtestFilter, const ChildOptions& options) {
    const ChildProgram program(options);
    std::optional<SystemDouble> systemDouble;
    if (!options.systemDouble.empty()) systemDouble.emplace(options.systemDouble);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) throw std::runtime_error("cannot create pipe");
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd.get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string commandLine =
        "\"" + program.Path() + "\" --gtest_filter=" + gtestFilter + kChildFlag + options.childArgument;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.Path().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        throw std::runtime_error("cannot start " + program.Path());
    const UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writeEnd.reset();  // the child holds the only write end now, so reading ends with it
    std::string output;
    bool hung = false;
    {
        TestThread reader([&] { output = ReadToEnd(readEnd.get()); });
        hung = WaitForSingleObject(processHandle.get(), options.timeoutMs) == WAIT_TIMEOUT;
        if (hung) TerminateProcess(processHandle.get(), kNoExitCode);
    }
    DWORD exitCode = kNoExitCode;
    WaitForSingleObject(processHandle.get(), INFINITE);
    GetExitCodeProcess(processHandle.get(), &exitCode);
    return {exitCode, output, hung};
}

ChildRun RunAsWindowsVersion(const std::string& version, const std::string& gtestFilter,
                             const std::string& childArgument) {
    return RunChild(gtestFilter, {.windowsVersion = version, .childArgument = childArgument});
}

bool ChildPassed(const ChildRun& run) {
    constexpr char kPassed[] = "[  PASSED  ] ";
    const std::size_t passed = run.output.find(kPassed);
    return run.exitCode == 0 && passed != std::string::npos &&
           std::atoi(run.output.c_str() + passed + sizeof kPassed - 1) > 0;
}

void ExpectChildPasses(const ChildOptions& options) {
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    const ChildRun run = RunChild(std::string(test.test_suite_name()) + "." + test.name(), options);
    EXPECT_TRUE(ChildPassed(run)) << options.windowsVersion << " " << options.childArgument << ":\n" << run.output;
}

std::string ChildArgument() {
    const std::string commandLine = GetCommandLineA();
    const std::size_t flag = commandLine.find(kChildFlag);
    return flag == std::string::npos ? std::string() : commandLine.substr(flag + std::strlen(kChildFlag));
}

std::string WinePath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string ThisExecutableFolder() {
    const std::string path = ThisExecutablePath();
    return path.substr(0, path.find_last_of("\\/"));
}
