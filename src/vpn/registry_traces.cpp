#include "vpn/registry_traces.h"

#include "system/handles.h"

namespace {

UniqueKey OpenMachineKey(const char* subKey, REGSAM access) {
    HKEY key = nullptr;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, &key) == ERROR_SUCCESS ? UniqueKey(key) : UniqueKey();
}

}  // namespace

int32_t RegKeyExists(HKEY /*root*/, const char* subKey) {
    return OpenMachineKey(subKey, KEY_ALL_ACCESS) ? kRegTraceFound : kRegTraceAbsent;
}

int32_t RegQueryDword(HKEY /*root*/, const char* subKey, const char* valueName, DWORD* value) {
    const UniqueKey key = OpenMachineKey(subKey, KEY_READ);
    if (!key) return kRegTraceAbsent;
    DWORD type = REG_NONE;
    DWORD size = sizeof *value;
    if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return kRegTraceAbsent;
    return type == REG_DWORD ? kRegTraceFound : kRegTraceAbsent;
}
