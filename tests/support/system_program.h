// One of the system's own programs (the command shell, the Explorer) running for a test's scope,
// its input a pipe that never delivers, so that it waits; ended when the object goes.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "system/handles.h"

class SystemProgram {
public:
    // `path` such as "C:\windows\system32\cmd.exe". Throws std::runtime_error if it cannot start.
    SystemProgram(const std::string& path, const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        UniqueHandle input;
        const UniqueFileHandle discard(CreateFileA("NUL", GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
        CreatePipe(input.put(), m_input.put(), &inherit, 0);
        SetHandleInformation(m_input.get(), HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.get();
        startup.hStdOutput = startup.hStdError = discard.get();
        std::string commandLine = "\"" + path + "\" " + arguments;
        PROCESS_INFORMATION started = {};
        if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &started))
            throw std::runtime_error("cannot start " + path);
        m_process.reset(started.hProcess);
        const UniqueHandle thread(started.hThread);  // not needed
    }
    ~SystemProgram() {
        TerminateProcess(m_process.get(), 0);
        WaitForSingleObject(m_process.get(), INFINITE);  // out of the process list before the next test
    }
    SystemProgram(const SystemProgram&) = delete;
    SystemProgram& operator=(const SystemProgram&) = delete;
    DWORD Id() const { return GetProcessId(m_process.get()); }

private:
    UniqueHandle m_input;  // the pipe's write end, held so that the program's reads wait
    UniqueHandle m_process;
};
