// What the reference hosts use besides the SDK header (no Windows SDK for the MSVC target here).
#pragma once

#include <linkset/linkset.h>

// Microsoft's static runtime gives the table RTTI type descriptors point to; catching never calls it.
__asm__(".section .rdata,\"dr\"\n.globl \"??_7type_info@@6B@\"\n\"??_7type_info@@6B@\":\n.quad 0\n.text\n");

extern "C" {
int printf(const char* format, ...);
[[noreturn]] void exit(int code);
int strcmp(const char* a, const char* b);
int _stricmp(const char* a, const char* b);
void* memset(void* destination, int value, size_t size);
__declspec(dllimport) void* __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);
__declspec(dllimport) void __stdcall SetLastError(unsigned long error);
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
}

// The host's own fault injection: puts `value` into one import slot of `module`, answers what was there.
inline void* SwapImport(void* module, const char* dll, const char* function, void* value) {
    char* base = static_cast<char*>(module);
    const unsigned importRva = *reinterpret_cast<unsigned*>(base + *reinterpret_cast<int*>(base + 0x3C) + 24 + 120);
    for (unsigned* import = reinterpret_cast<unsigned*>(base + importRva); import[3] != 0; import += 5) {
        unsigned long long* names = reinterpret_cast<unsigned long long*>(base + import[0]);
        for (int i = 0; _stricmp(base + import[3], dll) == 0 && names[i] != 0; ++i) {
            if ((names[i] >> 63) || strcmp(base + names[i] + 2, function) != 0) continue;
            void** slot = reinterpret_cast<void**>(base + import[4]) + i;  // MinGW's .idata is writable
            void* previous = *slot;
            *slot = value;
            return previous;
        }
    }
    return nullptr;
}

// What a factory gave, released when the scope ends.
template <class T, auto Release> struct Owned {
    T* p;
    ~Owned() noexcept(false) { Release(p); }  // no terminate handler in this runtime
    T* operator->() const { return p; }
};

inline int g_failedChecks = 0;
inline void Check(bool ok, const char* what) { printf("%s %s\n", ok ? "ok  " : "FAIL", what), g_failedChecks += !ok; }
[[noreturn]] inline void Finish() { printf("%d checks failed\n", g_failedChecks), exit(g_failedChecks); }

// The host's log, with MSVC's virtual-table layout; it keeps the first 32 lines.
struct HostLog final : IDebugLog {
    bool IsEnabled() override { return true; }
    void Write(const outputstr* line) override {
        if (count == 32) return;
        unsigned long long i = 0;
        for (; i < line->length && i + 1 < sizeof m_lines[0]; ++i) m_lines[count][i] = line->text[i];
        m_lines[count++][i] = '\0';
    }
    bool Saw(const char* text) const {
        for (int i = 0; i < count; ++i) if (strcmp(m_lines[i], text) == 0) return true;
        return false;
    }
    int count = 0;  // set to 0 to keep the next lines instead
    char m_lines[32][160] = {};
};
