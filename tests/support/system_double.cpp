#include "system_double.h"

#include <windows.h>

#include <stdexcept>

std::string SystemDirectory() {
    char directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) throw std::runtime_error("no system directory");
    return std::string(directory, length);
}

ScopedSystemDouble::ScopedSystemDouble(const std::string& doublePath, const std::string& dllName)
    : m_installed(SystemDirectory() + "\\" + dllName), m_saved(m_installed + ".linkset-saved") {
    // A saved file left by a run that died keeps the prefix's original; it is not overwritten.
    if (GetFileAttributesA(m_saved.c_str()) == INVALID_FILE_ATTRIBUTES)
        MoveFileExA(m_installed.c_str(), m_saved.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!CopyFileA(doublePath.c_str(), m_installed.c_str(), FALSE))
        throw std::runtime_error("cannot install " + doublePath + " as " + m_installed);
}

ScopedSystemDouble::~ScopedSystemDouble() {
    DeleteFileA(m_installed.c_str());
    MoveFileExA(m_saved.c_str(), m_installed.c_str(), MOVEFILE_REPLACE_EXISTING);
}
