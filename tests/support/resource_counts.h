// What code leaves open: count, run, compare.
#pragma once

#include <malloc.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "system/handles.h"  // and <windows.h>

// The handles (registry keys too) this process holds: Wine's GetProcessHandleCount answers 0.
inline long ProcessHandleCount() {
    struct Entry { ULONG processId; UCHAR type, attributes; USHORT value; void* object; ULONG access; };
    struct Table { ULONG count; Entry entries[1]; };  // the system's handle table
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    using Query = LONG(WINAPI*)(ULONG infoClass, void* buffer, ULONG size, ULONG* needed);
    const auto query = ResolveEntryPoint<Query>(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    if (!query) throw std::runtime_error("no NtQuerySystemInformation");
    std::vector<unsigned char> buffer(1 << 16);
    for (ULONG needed = 0; const LONG status = query(kSystemHandleInformation, buffer.data(),
                                                     static_cast<ULONG>(buffer.size()), &needed);) {
        if (status != kInfoLengthMismatch) throw std::runtime_error("cannot read the handle table");
        buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    return std::count_if(table->entries, table->entries + table->count,
                         [](const Entry& entry) { return entry.processId == GetCurrentProcessId(); });
}

// Bytes in use on the C runtime's heap and the process heap: Wine reports no private bytes.
inline unsigned long long HeapBytesInUse() {
    unsigned long long used = 0;
    _HEAPINFO runtimeBlock = {};
    while (_heapwalk(&runtimeBlock) == _HEAPOK)
        if (runtimeBlock._useflag == _USEDENTRY) used += runtimeBlock._size;
    const HANDLE processHeap = GetProcessHeap();
    HeapLock(processHeap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(processHeap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) used += entry.cbData;
    HeapUnlock(processHeap);
    return used;
}
