#include "sources/entry_points.h"

#include "system/handles.h"

bool ResolveEntryPoints(HMODULE module, const char* const* names, void** slots, std::size_t count) {
    bool complete = true;
    for (std::size_t i = 0; i < count; ++i) {
        slots[i] = ResolveEntryPoint<void*>(module, names[i]);
        complete = complete && slots[i] != nullptr;
    }
    return complete;
}
