// Volatile keys under HKEY_LOCAL_MACHINE, deleted at start and end: a test that dies leaves nothing behind.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "system/handles.h"

// Creates root\path volatile, with its missing parents, and sets the value `name` in it if given.
inline void SetRegistryValue(HKEY root, const std::string& path, const char* name = nullptr, DWORD type = REG_NONE,
                             const void* data = nullptr, DWORD size = 0) {
    UniqueKey key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS ||
        (name && RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS))
        throw std::runtime_error("cannot write " + path + "\\" + (name ? name : ""));
}
inline void SetRegistryString(HKEY root, const std::string& path, const std::string& name, const std::string& value) {
    SetRegistryValue(root, path, name.c_str(), REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

class RegistryScenario {
public:
    explicit RegistryScenario(std::vector<std::string> ownedKeys) : m_owned(std::move(ownedKeys)) { DeleteOwned(); }
    ~RegistryScenario() { DeleteOwned(); }
    RegistryScenario(const RegistryScenario&) = delete;

    void CreateKey(const std::string& path) { SetRegistryValue(HKEY_LOCAL_MACHINE, path); }
    void SetString(const std::string& path, const std::string& name, const std::string& value) {
        SetRegistryString(HKEY_LOCAL_MACHINE, path, name, value);
    }
    void SetValue(const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size) {
        SetRegistryValue(HKEY_LOCAL_MACHINE, path, name.c_str(), type, data, size);
    }
    void SetDword(const std::string& path, const std::string& name, DWORD value) {
        SetValue(path, name, REG_DWORD, &value, sizeof value);
    }

private:
    void DeleteOwned() {
        for (const std::string& path : m_owned) RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
    }
    const std::vector<std::string> m_owned;
};
