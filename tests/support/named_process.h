// A process of a chosen file name ("LinkSetProbe.EXE"): a copy of waiting_process.exe beside this one.
#pragma once

#include "child_process.h"

class NamedProcess {
public:
    explicit NamedProcess(const std::string& fileName)
        : m_copy(ThisExecutableFolder() + "\\" + fileName), m_program(m_copy.path, "") {}

    DWORD Id() const { return m_program.Id(); }
    const std::string& Path() const { return m_copy.path; }

private:
    struct CopiedFile {  // deleted last, once the process is gone
        explicit CopiedFile(const std::string& to) : path(to) {
            if (!CopyFileA((ThisExecutableFolder() + "\\waiting_process.exe").c_str(), path.c_str(), FALSE))
                throw std::runtime_error("cannot copy to " + path);
        }
        ~CopiedFile() { DeleteFileA(path.c_str()); }
        std::string path;
    };
    CopiedFile m_copy;
    RunningProgram m_program;
};
