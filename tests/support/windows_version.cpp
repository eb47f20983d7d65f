#include "windows_version.h"

#include <windows.h>

#include <stdexcept>

#include "system/handles.h"

const char* const kWineWindowsVersions[14] = {"win95", "win98", "winme",  "nt40", "win2k",     "winxp", "winxp64",
                                              "win2003", "vista", "win2008", "win7", "win2008r2", "win8",  "win10"};

namespace {

constexpr const char* kChildVariable = "LINKSET_TEST_CHILD";
constexpr DWORD kChildTimeoutMs = 120000;

std::string ExecutablePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

// A copy of this executable beside it, named for the version: "<stem>-<version>.exe".
std::string CopyForVersion(const std::string& version) {
    const std::string self = ExecutablePath();
    const std::string copy = self.substr(0, self.size() - 4) + "-" + version + ".exe";
    if (!CopyFileA(self.c_str(), copy.c_str(), FALSE)) throw std::runtime_error("cannot copy " + self);
    return copy;
}

void SetWineVersionFor(const std::string& executablePath, const std::string& version) {
    const std::string name = executablePath.substr(executablePath.find_last_of("\\/") + 1);
    const std::string keyPath = "Software\\Wine\\AppDefaults\\" + name;
    UniqueKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + keyPath);
    RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>(version.size() + 1));
}

std::string ReadAll(HANDLE pipe) {
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
    return output;
}

}  // namespace

ChildRun RunAsWindowsVersion(const std::string& version, const std::string& gtestFilter,
                             const std::string& childArgument) {
    const std::string copy = CopyForVersion(version);
    SetWineVersionFor(copy, version);

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
    std::string commandLine = "\"" + copy + "\" --gtest_filter=" + gtestFilter;

    SetEnvironmentVariableA(kChildVariable, childArgument.c_str());
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    if (!started) throw std::runtime_error("cannot start " + copy);
    UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writeEnd.reset();  // the child holds the only write end now, so ReadAll ends with it

    ChildRun run{static_cast<unsigned long>(-1), ReadAll(readEnd.get())};
    if (WaitForSingleObject(processHandle.get(), kChildTimeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(processHandle.get(), &code);
        run.exitCode = code;
    } else {
        TerminateProcess(processHandle.get(), 1);
    }
    return run;
}

std::string ChildArgument() {
    char value[256] = {};
    const DWORD length = GetEnvironmentVariableA(kChildVariable, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}
