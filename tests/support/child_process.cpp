#include "child_process.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "registry_scenario.h"
#include "system/handles.h"

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

}  // namespace

ChildRun RunChild(const std::string& gtestFilter, const ChildOptions& options) {
    const ChildProgram program(options);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) throw std::runtime_error("cannot create pipe");
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd.get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string commandLine = "\"" + program.Path() + "\" --gtest_filter=" + gtestFilter + kChildFlag + options.childArgument;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.Path().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        throw std::runtime_error("cannot start " + program.Path());
    const UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writeEnd.reset();  // the child holds the only write end now, so reading ends with it
    std::string output;
    char buffer[4096];
    for (DWORD got = 0; ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0;) output.append(buffer, got);
    DWORD exitCode = kNoExitCode;
    WaitForSingleObject(processHandle.get(), INFINITE);
    GetExitCodeProcess(processHandle.get(), &exitCode);
    return {exitCode, output};
}

ChildRun RunAsWindowsVersion(const std::string& version, const std::string& gtestFilter,
                             const std::string& childArgument) {
    ChildOptions options;
    options.windowsVersion = version;
    options.childArgument = childArgument;
    return RunChild(gtestFilter, options);
}

bool ChildPassed(const ChildRun& run) {
    constexpr char kPassed[] = "[  PASSED  ] ";
    const std::size_t passed = run.output.find(kPassed);
    return run.exitCode == 0 && passed != std::string::npos &&
           std::atoi(run.output.c_str() + passed + sizeof kPassed - 1) > 0;
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
