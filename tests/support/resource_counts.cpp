#include "resource_counts.h"

#include <malloc.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "system/handles.h"

namespace {

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr ULONG kFirstBufferSize = 1 << 16;

// One row of the system's handle table.
struct HandleTableEntry {
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectTypeIndex;
    UCHAR handleAttributes;
    USHORT handleValue;
    void* object;
    ULONG grantedAccess;
};
struct HandleTable {
    ULONG count;
    HandleTableEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG infoClass, void* buffer, ULONG size, ULONG* needed);

std::vector<unsigned char> ReadHandleTable() {
    const auto query = ResolveEntryPoint<QuerySystemInformation>(GetModuleHandleA("ntdll.dll"),
                                                                 "NtQuerySystemInformation");
    if (!query) throw std::runtime_error("no NtQuerySystemInformation");
    std::vector<unsigned char> buffer(kFirstBufferSize);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) return buffer;
        if (status != kStatusInfoLengthMismatch) throw std::runtime_error("cannot read the handle table");
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

long ProcessHandleCount() {
    const std::vector<unsigned char> buffer = ReadHandleTable();
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const auto self = static_cast<USHORT>(GetCurrentProcessId());
    long count = 0;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].processId == self) ++count;
    return count;
}

bool IsModuleLoaded(const char* name) { return GetModuleHandleA(name) != nullptr; }

unsigned long long HeapBytesInUse() {
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
