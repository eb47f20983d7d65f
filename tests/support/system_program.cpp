#include "system_program.h"

#include <stdexcept>

namespace {
constexpr DWORD kEndWaitMs = 10000;
}  // namespace

SystemProgram::SystemProgram(const std::string& path, const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd;
    const UniqueFileHandle discard(CreateFileA("NUL", GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
    if (!CreatePipe(readEnd.put(), m_input.put(), &inherit, 0)) throw std::runtime_error("cannot create pipe");
    SetHandleInformation(m_input.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd.get();
    startup.hStdOutput = startup.hStdError = discard.get();
    std::string commandLine = "\"" + path + "\" " + arguments;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started))
        throw std::runtime_error("cannot start " + path);
    m_process.reset(started.hProcess);
    const UniqueHandle thread(started.hThread);  // not needed: closed at once
    m_id = started.dwProcessId;
}

SystemProgram::~SystemProgram() {
    TerminateProcess(m_process.get(), 0);
    WaitForSingleObject(m_process.get(), kEndWaitMs);
}
