// Slot 0 of the objects a host holds: the MSVC-style deleting destructor.
#pragma once

#include <linkset/abi.h>

// Destroys `self` and, when the host's flags ask for it, frees its memory; answers `self` as
// Microsoft's deleting destructors do.
template <class T>
void* DestroyHostObject(T* self, unsigned int flags) {
    self->~T();
    if (flags & LINKSET_DELETE_MEMORY) ::operator delete(self);
    return self;
}
