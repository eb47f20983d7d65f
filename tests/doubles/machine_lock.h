// The made-up machine of a double may be replaced while the library's threads ask it: readers
// share this lock, the test replacing the machine takes it alone.
#pragma once

#include <windows.h>

inline SRWLOCK g_machineLock = SRWLOCK_INIT;

struct MachineReading {
    MachineReading() { AcquireSRWLockShared(&g_machineLock); }
    ~MachineReading() { ReleaseSRWLockShared(&g_machineLock); }
};

struct MachineWriting {
    MachineWriting() { AcquireSRWLockExclusive(&g_machineLock); }
    ~MachineWriting() { ReleaseSRWLockExclusive(&g_machineLock); }
};
