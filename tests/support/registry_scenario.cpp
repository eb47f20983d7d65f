#include "registry_scenario.h"

#include <stdexcept>

#include "system/handles.h"

namespace {

constexpr DWORD kNameSize = 16384;
constexpr DWORD kDataSize = 65536;
constexpr char kVolatilityProbe[] = "linkset-volatility-probe";

struct SavedValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

UniqueKey OpenExisting(HKEY parent, const std::string& path) {
    UniqueKey key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ | KEY_CREATE_SUB_KEY, key.put()) != ERROR_SUCCESS)
        return UniqueKey();
    return key;
}

UniqueKey Create(HKEY parent, const std::string& path, DWORD options = REG_OPTION_VOLATILE) {
    UniqueKey key;
    if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + path);
    return key;
}

// A key that lives only as long as the wineserver (Wine keeps some of its own, the network
// cards among them, that way) refuses children that do not.
bool IsVolatile(HKEY key) {
    HKEY probe = nullptr;
    const LONG status = RegCreateKeyExA(key, kVolatilityProbe, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ,
                                        nullptr, &probe, nullptr);
    if (status != ERROR_SUCCESS) return status == ERROR_CHILD_MUST_BE_VOLATILE;
    RegCloseKey(probe);
    RegDeleteKeyA(key, kVolatilityProbe);
    return false;
}

}  // namespace

// One key's values and subkeys, as read before the scenario changed anything.
struct RegistryScenario::SavedKey {
    bool isVolatile = false;
    std::vector<SavedValue> values;
    std::vector<std::pair<std::string, std::unique_ptr<SavedKey>>> subkeys;

    static std::unique_ptr<SavedKey> Read(HKEY key) {
        auto saved = std::make_unique<SavedKey>();
        saved->isVolatile = IsVolatile(key);
        std::string name(kNameSize, '\0');
        std::vector<BYTE> data(kDataSize);
        for (DWORD index = 0;; ++index) {
            DWORD nameLength = kNameSize, type = 0, dataSize = kDataSize;
            if (RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) !=
                ERROR_SUCCESS)
                break;
            saved->values.push_back({name.substr(0, nameLength), type, {data.begin(), data.begin() + dataSize}});
        }
        for (DWORD index = 0;; ++index) {
            DWORD nameLength = kNameSize;
            if (RegEnumKeyExA(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            const std::string subkeyName = name.substr(0, nameLength);
            if (const UniqueKey subkey = OpenExisting(key, subkeyName))
                saved->subkeys.emplace_back(subkeyName, Read(subkey.get()));
        }
        return saved;
    }

    void Write(HKEY parent, const std::string& relativePath) const {
        const UniqueKey key = Create(parent, relativePath, isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE);
        for (const SavedValue& value : values)
            RegSetValueExA(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        for (const auto& [name, subkey] : subkeys) subkey->Write(key.get(), name);
    }
};

RegistryScenario::RegistryScenario(const std::vector<std::string>& ownedKeys) {
    for (const std::string& path : ownedKeys) {
        std::unique_ptr<SavedKey> saved;
        if (const UniqueKey key = OpenExisting(HKEY_LOCAL_MACHINE, path)) saved = SavedKey::Read(key.get());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
        m_saved.emplace_back(path, std::move(saved));
    }
}

RegistryScenario::~RegistryScenario() {
    for (const auto& [path, saved] : m_saved) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
        if (saved) saved->Write(HKEY_LOCAL_MACHINE, path);
    }
}

void RegistryScenario::CreateKey(const std::string& path) { Create(HKEY_LOCAL_MACHINE, path); }

void RegistryScenario::SetString(const std::string& path, const std::string& name, const std::string& value) {
    SetRegistryString(HKEY_LOCAL_MACHINE, path, name, value);
}

void SetRegistryString(HKEY root, const std::string& path, const std::string& name, const std::string& value) {
    const UniqueKey key = Create(root, path);
    if (RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
        throw std::runtime_error("cannot set " + path + "\\" + name);
}
