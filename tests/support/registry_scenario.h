// Registry content a test writes for itself under HKEY_LOCAL_MACHINE of the private prefix. The
// keys a scenario owns are deleted when it starts and when it ends, so each test sees exactly
// what it wrote. Everything is written volatile: even a test that dies half-way leaves nothing
// behind once the prefix's wineserver stops.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class RegistryScenario {
public:
    // `ownedKeys`: paths under HKEY_LOCAL_MACHINE that the scenario controls entirely.
    explicit RegistryScenario(std::vector<std::string> ownedKeys);
    ~RegistryScenario();
    RegistryScenario(const RegistryScenario&) = delete;
    RegistryScenario& operator=(const RegistryScenario&) = delete;

    // Each creates `path` and its missing parents.
    void CreateKey(const std::string& path);
    void SetString(const std::string& path, const std::string& name, const std::string& value);
    void SetValue(const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size);
    void SetDword(const std::string& path, const std::string& name, DWORD value) {
        SetValue(path, name, REG_DWORD, &value, sizeof value);
    }

private:
    std::vector<std::string> m_owned;
};

// Creates root\path as a volatile key, with its missing parents, and sets a value in it.
void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const void* data,
                      DWORD size);
inline void SetRegistryString(HKEY root, const std::string& path, const std::string& name, const std::string& value) {
    SetRegistryValue(root, path, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}
