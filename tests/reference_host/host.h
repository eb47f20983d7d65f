// What the reference host uses besides the LinkSet SDK: a few runtime and Windows functions,
// declared here since there is no Windows SDK for the MSVC target on this machine, a check
// counter, and the host's own debug log.
#pragma once

#include <linkset/linkset.h>

extern "C" {
int printf(const char* format, ...);
void exit(int code);
int strcmp(const char* a, const char* b);
int _stricmp(const char* a, const char* b);
void* memset(void* destination, int value, size_t size);
__declspec(dllimport) void* __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) int __stdcall VirtualProtect(void* address, size_t size, unsigned long protection,
                                                   unsigned long* old);
__declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);
__declspec(dllimport) void __stdcall SetLastError(unsigned long error);
}

inline int g_failedChecks = 0;
inline void Check(bool ok, const char* what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    g_failedChecks += ok ? 0 : 1;
}

// The host's log, with MSVC's virtual-table layout: three slots of the host's, then the two the
// library calls. It keeps the lines it receives.
class HostLog final : public IDebugLog {
public:
    bool IsEnabled() override { return true; }
    void Write(const outputstr* line) override {
        if (count < kLines) {
            unsigned long long i = 0;
            for (; i < line->length && i + 1 < sizeof m_lines[0]; ++i) m_lines[count][i] = line->text[i];
            m_lines[count][i] = '\0';
        }
        ++count;
    }
    bool Saw(const char* text) const {
        for (int i = 0; i < count && i < kLines; ++i)
            if (strcmp(m_lines[i], text) == 0) return true;
        return false;
    }
    int count = 0;

private:
    static const int kLines = 32;
    char m_lines[kLines][160] = {};
};
