#include "named_process.h"

#include <stdexcept>

#include "child_process.h"

namespace {
constexpr const char* kWaitingProgram = "waiting_process.exe";
constexpr DWORD kEndWaitMs = 10000;
}  // namespace

NamedProcess::NamedProcess(const std::string& fileName, const std::string& folder)
    : m_path((folder.empty() ? ThisExecutableFolder() : folder) + "\\" + fileName) {
    const std::string program = ThisExecutableFolder() + "\\" + kWaitingProgram;
    if (!CopyFileA(program.c_str(), m_path.c_str(), FALSE)) throw std::runtime_error("cannot copy to " + m_path);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(m_path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        DeleteFileA(m_path.c_str());
        throw std::runtime_error("cannot start " + m_path);
    }
    m_process.reset(started.hProcess);
    const UniqueHandle thread(started.hThread);  // not needed: closed at once
    m_id = started.dwProcessId;
}

NamedProcess::~NamedProcess() {
    TerminateProcess(m_process.get(), 0);
    WaitForSingleObject(m_process.get(), kEndWaitMs);
    m_process.reset();
    DeleteFileA(m_path.c_str());
}
