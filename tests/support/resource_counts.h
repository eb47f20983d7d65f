// Counting what code under test leaves open: the process's kernel handles (registry keys and
// client handles are handles too) and the libraries it still has loaded. Take a count, run the
// code, and compare; run it once before counting when the code opens something for good on
// first use (the system's predefined registry keys, for one).
#pragma once

#include <windows.h>

// The number of handles this process holds, read from the system's handle table (Wine's
// GetProcessHandleCount answers 0 whatever is open).
long ProcessHandleCount();

// Bytes in blocks now allocated from the C runtime's heap (new, malloc, realloc) and from the
// process heap (HeapAlloc). Wine reports no private-bytes figure, so leaks are counted here.
unsigned long long HeapBytesInUse();

// Whether a module of this file name (or path) is loaded in this process.
bool IsModuleLoaded(const char* name);

// The handle count at construction, and how many more are open now.
class HandleCount {
public:
    HandleCount() : m_before(ProcessHandleCount()) {}
    long Added() const { return ProcessHandleCount() - m_before; }

private:
    long m_before;
};
