// Fault injection: replaces an imported function in one module's import address table for a scope.
#pragma once

#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>

class ImportPatch {
public:
    // No such import throws. *original is set first: the runtime's own threads may call through it at once.
    template <class F>
    ImportPatch(HMODULE module, const char* dll, const char* function, F replacement, F* original = nullptr)
        : m_slot(Find(module, dll, function)) {
        if (m_slot == nullptr) throw std::runtime_error(std::string("no import ") + dll + "!" + function);
        m_original = *m_slot;
        if (original != nullptr) *original = reinterpret_cast<F>(m_original);
        Write(m_slot, const_cast<void*>(reinterpret_cast<const void*>(replacement)));
    }
    ~ImportPatch() { Write(m_slot, m_original); }
    ImportPatch(const ImportPatch&) = delete;

private:
    template <class T>
    static T* At(HMODULE module, ULONG_PTR offset) {
        return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
    }
    static void Write(void** slot, void* value) {
        DWORD protection = 0;
        VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
        *slot = value;
        VirtualProtect(slot, sizeof(void*), protection, &protection);
    }
    // The DLL's name matches without case, as the loader matches it.
    static void** Find(HMODULE module, const char* dll, const char* function) {
        const auto* nt = At<IMAGE_NT_HEADERS>(module, reinterpret_cast<IMAGE_DOS_HEADER*>(module)->e_lfanew);
        const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto* import = At<IMAGE_IMPORT_DESCRIPTOR>(module, imports); imports != 0 && import->Name != 0; ++import) {
            if (_stricmp(At<char>(module, import->Name), dll) != 0) continue;
            auto* slots = At<IMAGE_THUNK_DATA>(module, import->FirstThunk);
            for (auto* names = At<IMAGE_THUNK_DATA>(module, import->OriginalFirstThunk); names->u1.AddressOfData != 0;
                 ++names, ++slots)
                if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                    std::strcmp(At<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData)->Name, function) == 0)
                    return reinterpret_cast<void**>(&slots->u1.Function);
        }
        return nullptr;
    }

    void** const m_slot;
    void* m_original = nullptr;
};

inline HMODULE ThisExecutable() { return GetModuleHandleA(nullptr); }
