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
    // The same for a replacement that passes some calls on to the original: *original is set
    // before the slot changes, since other threads (the runtime's own) may call through it at once.
    template <class F>
    ImportPatch(HMODULE module, const char* dll, const char* function, F replacement, F* original)
        : ImportPatch(module, dll, function, reinterpret_cast<const void*>(replacement),
                      reinterpret_cast<void**>(original)) {}
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

private:
    ImportPatch(HMODULE module, const char* dll, const char* function, const void* replacement, void** original);

    void** m_slot;
    void* m_original;
};

// The module of the running test executable.
HMODULE ThisExecutable();
