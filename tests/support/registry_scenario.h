// Registry content a test writes for itself under HKEY_LOCAL_MACHINE of the private prefix.
// The keys a scenario owns are set aside when it starts (their content kept in memory) and put
// back as they were when it ends. Everything written is volatile, so even a test that dies
// half-way leaves nothing behind once the prefix's wineserver stops.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class RegistryScenario {
public:
    // `ownedKeys`: paths under HKEY_LOCAL_MACHINE that the scenario controls entirely.
    explicit RegistryScenario(const std::vector<std::string>& ownedKeys);
    ~RegistryScenario();
    RegistryScenario(const RegistryScenario&) = delete;
    RegistryScenario& operator=(const RegistryScenario&) = delete;

    // Creates `path` (and its missing parents) and sets a text value in it.
    void SetString(const std::string& path, const std::string& name, const std::string& value);
    void CreateKey(const std::string& path);

    struct SavedKey;

private:
    std::vector<std::pair<std::string, std::unique_ptr<SavedKey>>> m_saved;  // null: did not exist
};

// Creates root\path as a volatile key, with its missing parents, and sets a text value in it.
void SetRegistryString(HKEY root, const std::string& path, const std::string& name, const std::string& value);
