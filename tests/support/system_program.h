// One of the system's own programs (the command shell, the Explorer) running for a test's scope:
// started with its input on a pipe that never delivers, so that it waits, and ended when the
// object goes.
#pragma once

#include <windows.h>

#include <string>

#include "system/handles.h"

class SystemProgram {
public:
    // `path` such as "C:\windows\system32\cmd.exe". Throws std::runtime_error when it cannot start.
    SystemProgram(const std::string& path, const std::string& arguments);
    ~SystemProgram();
    SystemProgram(const SystemProgram&) = delete;
    SystemProgram& operator=(const SystemProgram&) = delete;

    DWORD Id() const { return m_id; }

private:
    UniqueHandle m_input;  // the pipe's write end, held so that the program's reads wait
    UniqueHandle m_process;
    DWORD m_id = 0;
};
