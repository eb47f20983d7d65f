// A system program (the command shell, the Explorer) waiting on input that never comes, for a scope.
#pragma once

#include "child_process.h"

class SystemProgram {
public:
    SystemProgram(const std::string& path, const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        UniqueHandle input;
        const UniqueFileHandle discard(CreateFileA("NUL", GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
        CreatePipe(input.put(), m_input.put(), &inherit, 0);
        SetHandleInformation(m_input.get(), HANDLE_FLAG_INHERIT, 0);
        m_program.emplace(path, arguments, input.get(), discard.get());
    }
    DWORD Id() const { return m_program->Id(); }

private:
    UniqueHandle m_input;  // the pipe's write end, held so that the program's reads wait
    std::optional<RunningProgram> m_program;
};
