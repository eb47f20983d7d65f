// A test double put into the Wine prefix's system directory for a scope, for libraries the code
// loads by their full system path. The prefix's own file (Wine's placeholder for its built-in
// library) is set aside and put back afterwards. Only a child whose load order prefers the
// native file (ChildOptions::dllOverrides) sees the double; every other program keeps Wine's
// built-in library.
#pragma once

#include <string>

class ScopedSystemDouble {
public:
    // `doublePath`: the double to install; `dllName`: its file name in the system directory.
    ScopedSystemDouble(const std::string& doublePath, const std::string& dllName);
    ~ScopedSystemDouble();
    ScopedSystemDouble(const ScopedSystemDouble&) = delete;
    ScopedSystemDouble& operator=(const ScopedSystemDouble&) = delete;

    const std::string& InstalledPath() const { return m_installed; }

private:
    std::string m_installed;
    std::string m_saved;
};

// The system directory, as the code under test asks for it.
std::string SystemDirectory();
