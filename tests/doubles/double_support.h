// What the doubles of table-answering system libraries share.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

// Readers of the made-up machine share this lock; a test replacing it takes it alone.
inline SRWLOCK g_machineLock = SRWLOCK_INIT;
template <bool alone>
struct MachineLock {
    MachineLock() { alone ? AcquireSRWLockExclusive(&g_machineLock) : AcquireSRWLockShared(&g_machineLock); }
    ~MachineLock() { alone ? ReleaseSRWLockExclusive(&g_machineLock) : ReleaseSRWLockShared(&g_machineLock); }
};
using MachineReading = MachineLock<false>;
using MachineWriting = MachineLock<true>;

// The two-step size protocol: the caller learns the size it needs either way.
template <class Size>
bool Fits(const void* buffer, Size* size, Size needed) {
    const bool fits = buffer != nullptr && *size >= needed;
    *size = needed;
    return fits;
}

// As much of `text` as a fixed field holds with its terminator, the rest zeroed.
template <std::size_t N>
void Put(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}
