// A process of a chosen file name ("LinkSetProbe.EXE"): a copy of waiting_process.exe beside this one.
#pragma once

#include "child_process.h"

class NamedProcess {
public:
    explicit NamedProcess(const std::string& fileName)
        : m_copy{Copy(ThisExecutableFolder() + "\\" + fileName)}, m_program(m_copy.path, "") {}

    DWORD Id() const { return m_program.Id(); }
    const std::string& Path() const { return m_copy.path; }

private:
    struct CopiedFile {  // deleted last, once the process is gone
        std::string path;
        ~CopiedFile() { DeleteFileA(path.c_str()); }
    };
    static std::string Copy(const std::string& path) {
        if (!CopyFileA((ThisExecutableFolder() + "\\waiting_process.exe").c_str(), path.c_str(), FALSE))
            throw std::runtime_error("cannot copy to " + path);
        return path;
    }
    CopiedFile m_copy;
    RunningProgram m_program;
};
