// A test double put into the Wine prefix's system directory for a scope, for libraries the code
// loads by their full system path; the prefix's own file is set aside and put back. Only a child
// whose load order prefers the native file (ChildOptions::dllOverrides) sees the double.
#pragma once

#include <string>

class ScopedSystemDouble {
public:
    // `doublePath`: the double to install; `dllName`: its file name in the system directory.
    ScopedSystemDouble(const std::string& doublePath, const std::string& dllName);
    ~ScopedSystemDouble();
    ScopedSystemDouble(const ScopedSystemDouble&) = delete;
    ScopedSystemDouble& operator=(const ScopedSystemDouble&) = delete;

private:
    std::string m_installed;
    std::string m_saved;
};

// The system directory, as the code under test asks for it.
std::string SystemDirectory();
