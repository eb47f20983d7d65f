// Fault injection: replaces one imported function in a module's import address table for the
// lifetime of the object, so that a chosen system call fails inside that module only.
#pragma once

#include <windows.h>

class ImportPatch {
public:
    // `module` is the importing module (LinkSet.dll, or a test executable for code linked into
    // it); `dll` and `function` name the import. Throws std::runtime_error when there is no
    // such import, so a test never silently patches nothing.
    ImportPatch(HMODULE module, const char* dll, const char* function, const void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // The function the slot held before, for replacements that pass some calls on.
    template <class F>
    F Original() const {
        return reinterpret_cast<F>(m_original);
    }

private:
    void** m_slot;
    void* m_original;
};

// The module of the running test executable.
HMODULE ThisExecutable();
