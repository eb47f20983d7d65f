#include "registry_scenario.h"

#include <stdexcept>

#include "system/handles.h"

namespace {

UniqueKey Create(HKEY root, const std::string& path) {
    UniqueKey key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + path);
    return key;
}

void DeleteAll(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
}

}  // namespace

RegistryScenario::RegistryScenario(std::vector<std::string> ownedKeys) : m_owned(std::move(ownedKeys)) {
    DeleteAll(m_owned);
}

RegistryScenario::~RegistryScenario() { DeleteAll(m_owned); }

void RegistryScenario::CreateKey(const std::string& path) { Create(HKEY_LOCAL_MACHINE, path); }

void RegistryScenario::SetString(const std::string& path, const std::string& name, const std::string& value) {
    SetRegistryString(HKEY_LOCAL_MACHINE, path, name, value);
}

void RegistryScenario::SetValue(const std::string& path, const std::string& name, DWORD type, const void* data,
                                DWORD size) {
    SetRegistryValue(HKEY_LOCAL_MACHINE, path, name, type, data, size);
}

void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const void* data,
                      DWORD size) {
    const UniqueKey key = Create(root, path);
    if (RegSetValueExA(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS)
        throw std::runtime_error("cannot set " + path + "\\" + name);
}
