// A process of a chosen file name ("LinkSetProbe.EXE"): a copy of waiting_process.exe beside this one.
#pragma once

#include "child_process.h"

class NamedProcess {
public:
    explicit NamedProcess(const std::string& fileName) : m_path(ThisExecutableFolder() + "\\" + fileName) {
        if (!CopyFileA((ThisExecutableFolder() + "\\waiting_process.exe").c_str(), m_path.c_str(), FALSE))
            throw std::runtime_error("cannot copy to " + m_path);
        m_program.emplace(m_path, "");
    }
    ~NamedProcess() {
        m_program.reset();  // the copy can go once its process has
        DeleteFileA(m_path.c_str());
    }
    DWORD Id() const { return m_program->Id(); }

private:
    std::string m_path;
    std::optional<RunningProgram> m_program;
};
