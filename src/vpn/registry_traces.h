// The registry reads of the plug-ins that recognise a VPN client by its keys and values. Both
// take a root key for the callers' sake but always read under HKEY_LOCAL_MACHINE, where every
// client we know keeps its traces; neither ever writes.
#pragma once

#include <windows.h>

#include <cstdint>

inline constexpr int32_t kRegTraceFound = 0;
inline constexpr int32_t kRegTraceAbsent = -1;

// kRegTraceFound when subKey opens with KEY_ALL_ACCESS; a key that exists but refuses that
// access counts as absent, as a missing one does.
int32_t RegKeyExists(HKEY root, const char* subKey);

// kRegTraceFound only for a REG_DWORD value read into *value. Anything else is absent: no key,
// no value, a value longer than four bytes, or a value of another type; a four-byte value of
// another type is nevertheless left in *value.
int32_t RegQueryDword(HKEY root, const char* subKey, const char* valueName, DWORD* value);
