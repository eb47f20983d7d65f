// The names a user knows an adapter by, read from the registry: the connection name of the
// network connections folder, and (for systems before Vista) the description that the
// network-card and device records hold. Plain read-only lookups of HKEY_LOCAL_MACHINE; nothing
// is cached, so every call reads the registry again.
#pragma once

#include <windows.h>

#include <cstddef>

// One adapter the registry knows: its GUID text in braces and its description.
struct ADAPTER_REG_ENTRY {
    char GuidText[64];      // byte 63 always zero
    char Description[256];  // byte 255 always zero
};
static_assert(sizeof(ADAPTER_REG_ENTRY) == 320, "ADAPTER_REG_ENTRY is 320 bytes");

constexpr std::size_t kAdapterTableEntries = 16;
constexpr std::size_t kAdapterTableSize = kAdapterTableEntries * sizeof(ADAPTER_REG_ENTRY);

// Fills `table` (kAdapterTableEntries entries; `size` is kAdapterTableSize) from the network
// cards, then from the root-enumerated network devices. Answers the number of entries filled,
// or -1 when the network-card key does not open.
int ReadAdapterTable(ADAPTER_REG_ENTRY* table, std::size_t size);

// 1 with the registry's description of the adapter whose GUID text equals `adapterName`
// (case-sensitive) copied into `description` of `size` bytes; 0, with `description`
// untouched, when there is none.
int LookupAdapterDescription(const char* adapterName, char* description, std::size_t size);
template <std::size_t N>
int LookupAdapterDescription(const char* adapterName, char (&description)[N]) {
    return LookupAdapterDescription(adapterName, description, N);
}

// 0 with the adapter's connection name in `name` of `size` bytes (the caller's is 260), or -1;
// on -1 the caller names the connection after the adapter itself. Before Windows 2000 there is
// no connection name in the registry: the adapter name is the connection name.
int LookupConnectionName(const char* adapterName, char* name, std::size_t size);
