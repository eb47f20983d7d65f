// What the reference host's checks share: output, the check counter, and the host's own debug
// log. No STL and no Windows SDK: only the LinkSet SDK and a few runtime functions, declared here.
#pragma once

#include <linkset/linkset.h>

extern "C" int printf(const char* format, ...);
extern "C" void exit(int code);
extern "C" int strcmp(const char* a, const char* b);
extern "C" int _stricmp(const char* a, const char* b);
extern "C" void* memset(void* destination, int value, size_t size);
extern "C" int memcmp(const void* a, const void* b, size_t size);

void Check(bool ok, const char* what);
int FailedChecks();

// The host's log, with MSVC's virtual-table layout: three slots of the host's, then the two the
// library calls. It keeps the lines it receives.
class HostLog final : public IDebugLog {
public:
    bool IsEnabled() override { return true; }
    void Write(const outputstr* line) override;
    // Whether some line received since the last Clear equals `text`.
    bool Saw(const char* text) const;
    void Clear() { count = 0; }
    int count = 0;

private:
    static const int kLines = 32;
    char m_lines[kLines][160] = {};
};

void CheckManager();
