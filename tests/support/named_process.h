// A running process of a chosen executable name, for tests of code that looks for processes
// (a VPN client's, the shell's): a copy of a program that only waits, started under that name
// and killed, closed and deleted when the object goes.
#pragma once

#include <windows.h>

#include <string>

#include "system/handles.h"

class NamedProcess {
public:
    // `fileName` such as "LinkSetProbe.EXE"; the copy lies in `folder` ("" = beside this
    // executable). Throws std::runtime_error when the process cannot be started.
    explicit NamedProcess(const std::string& fileName, const std::string& folder = "");
    ~NamedProcess();
    NamedProcess(const NamedProcess&) = delete;
    NamedProcess& operator=(const NamedProcess&) = delete;

    DWORD Id() const { return m_id; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    UniqueHandle m_process;
    DWORD m_id = 0;
};
