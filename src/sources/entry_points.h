// Run-time bindings resolve a library's entry points from one table of names into one array
// of slots, so the names, the order and the test for a missing one live in a single place.
#pragma once

#include <windows.h>

#include <cstddef>

// Resolves names[i] of `module` into slots[i]; a missing entry point leaves its slot null.
// True when every one was found.
bool ResolveEntryPoints(HMODULE module, const char* const* names, void** slots, std::size_t count);

template <std::size_t N>
bool ResolveEntryPoints(HMODULE module, const char* const (&names)[N], void* (&slots)[N]) {
    return ResolveEntryPoints(module, names, slots, N);
}
