#include "import_patch.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

template <class T>
T* AtOffset(HMODULE module, DWORD offset) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

void WriteSlot(void** slot, void* value) {
    DWORD oldProtection = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &oldProtection);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), oldProtection, &oldProtection);
}

// Finds the address-table slot of dll!function, matching the DLL name without case.
void** FindImportSlot(HMODULE module, const char* dll, const char* function) {
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(module);
    auto* nt = AtOffset<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return nullptr;
    for (auto* import = AtOffset<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress); import->Name != 0;
         ++import) {
        if (_stricmp(AtOffset<char>(module, import->Name), dll) != 0) continue;
        auto* names = AtOffset<IMAGE_THUNK_DATA>(module, import->OriginalFirstThunk);
        auto* slots = AtOffset<IMAGE_THUNK_DATA>(module, import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = AtOffset<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

}  // namespace

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* function, const void* replacement)
    : ImportPatch(module, dll, function, replacement, nullptr) {}

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* function, const void* replacement,
                         void** original)
    : m_slot(FindImportSlot(module, dll, function)), m_original(nullptr) {
    if (m_slot == nullptr) throw std::runtime_error(std::string("no import ") + dll + "!" + function);
    m_original = *m_slot;
    if (original != nullptr) *original = m_original;
    WriteSlot(m_slot, const_cast<void*>(replacement));
}

ImportPatch::~ImportPatch() { WriteSlot(m_slot, m_original); }

HMODULE ThisExecutable() { return GetModuleHandleA(nullptr); }
