#include "child_process.h"

#include <windows.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "system/handles.h"

namespace {

constexpr const char* kChildVariable = "LINKSET_TEST_CHILD";
constexpr DWORD kChildTimeoutMs = 120000;
constexpr DWORD kVariableSize = 32768;
constexpr const char* kWineAppDefaults = "Software\\Wine\\AppDefaults\\";

std::string FileName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

// "<stem>-<tag>.exe" in `folder`, a copy of this executable.
std::string CopyForChild(const ChildOptions& options) {
    const std::string self = ThisExecutablePath();
    const std::string stem = FileName(self).substr(0, FileName(self).size() - 4);
    const std::string folder = options.folder.empty() ? ThisExecutableFolder() : options.folder;
    const std::string copy = folder + "\\" + stem + "-" + options.tag + ".exe";
    if (!CopyFileA(self.c_str(), copy.c_str(), FALSE)) throw std::runtime_error("cannot copy " + self + " to " + copy);
    return copy;
}

void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value) {
    UniqueKey key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + path);
    RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

// Wine's settings for the program of this file name: its Windows version and its load orders.
class WineProgramSettings {
public:
    WineProgramSettings(const std::string& executable, const ChildOptions& options)
        : m_key(kWineAppDefaults + FileName(executable)) {
        RegDeleteTreeA(HKEY_CURRENT_USER, m_key.c_str());
        if (!options.windowsVersion.empty()) SetString(HKEY_CURRENT_USER, m_key, "Version", options.windowsVersion);
        for (const auto& [dll, order] : options.dllOverrides)
            SetString(HKEY_CURRENT_USER, m_key + "\\DllOverrides", dll, order);
    }
    ~WineProgramSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, m_key.c_str()); }
    WineProgramSettings(const WineProgramSettings&) = delete;
    WineProgramSettings& operator=(const WineProgramSettings&) = delete;

private:
    std::string m_key;
};

// Sets environment variables for the scope (the child inherits them) and restores them.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const std::vector<std::pair<std::string, std::string>>& variables) {
        for (const auto& [name, value] : variables) {
            m_saved.emplace_back(name, Read(name));
            SetEnvironmentVariableA(name.c_str(), value.c_str());
        }
    }
    ~ScopedEnvironment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            SetEnvironmentVariableA(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static std::optional<std::string> Read(const std::string& name) {
        std::string value(kVariableSize, '\0');
        const DWORD length = GetEnvironmentVariableA(name.c_str(), value.data(), kVariableSize);
        if (length == 0 || length >= kVariableSize) return std::nullopt;
        value.resize(length);
        return value;
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// The child's copy of this executable, deleted once the child has ended.
class ChildCopy {
public:
    explicit ChildCopy(const ChildOptions& options) : m_path(CopyForChild(options)) {}
    ~ChildCopy() { DeleteFileA(m_path.c_str()); }
    ChildCopy(const ChildCopy&) = delete;
    ChildCopy& operator=(const ChildCopy&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::string ReadAll(HANDLE pipe) {
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
    return output;
}

ChildRun WaitForChild(HANDLE process, HANDLE outputPipe) {
    ChildRun run{static_cast<unsigned long>(-1), ReadAll(outputPipe)};
    if (WaitForSingleObject(process, kChildTimeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        run.exitCode = code;
    } else {
        TerminateProcess(process, 1);
    }
    return run;
}

}  // namespace

ChildRun RunChild(const std::string& gtestFilter, const ChildOptions& options) {
    const ChildCopy copy(options);
    const WineProgramSettings settings(copy.Path(), options);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) throw std::runtime_error("cannot create pipe");
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string commandLine = "\"" + copy.Path() + "\" --gtest_filter=" + gtestFilter;
    const char* workingDirectory = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

    PROCESS_INFORMATION process = {};
    BOOL started = FALSE;
    {
        auto variables = options.environment;
        variables.emplace_back(kChildVariable, options.childArgument);
        const ScopedEnvironment environment(variables);
        started = CreateProcessA(copy.Path().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 workingDirectory, &startup, &process);
    }
    if (!started) throw std::runtime_error("cannot start " + copy.Path());
    const UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writeEnd.reset();  // the child holds the only write end now, so reading ends with it
    return WaitForChild(processHandle.get(), readEnd.get());
}

bool ChildPassed(const ChildRun& run) {
    constexpr char kPassed[] = "[  PASSED  ] ";
    const std::size_t passed = run.output.find(kPassed);
    return run.exitCode == 0 && passed != std::string::npos &&
           std::atoi(run.output.c_str() + passed + sizeof kPassed - 1) > 0;
}

std::string ChildArgument() {
    char value[256] = {};
    const DWORD length = GetEnvironmentVariableA(kChildVariable, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string WinePath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string ThisExecutablePath() {
    std::string path(kVariableSize, '\0');
    path.resize(GetModuleFileNameA(nullptr, path.data(), kVariableSize));
    return path;
}

std::string ThisExecutableFolder() {
    const std::string path = ThisExecutablePath();
    return path.substr(0, path.find_last_of("\\/"));
}
