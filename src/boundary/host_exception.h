// Raising across the boundary the way Microsoft's runtime raises a C++ exception, so that an
// MSVC-built host's `catch` takes it: the library's CQndException* (caught as itself or as
// void*), and the allocation failure as std::bad_alloc (caught as itself, as std::exception or
// by catch (...)). A MinGW-built host takes both with a vectored exception handler, as the SDK's
// C++ layer does.
#pragma once

#include <linkset/exception.h>

#include <new>

[[noreturn]] void RaiseToHost(CQndException* exception);
[[noreturn]] void RaiseAllocationFailureToHost();

// Runs a host's call into the library. An allocation failure inside it leaves the library only
// after every scope of the call has been left, so whatever the call held (locks, blocks, handles)
// has been released, and then reaches the host as its compiler's std::bad_alloc.
template <class Call>
auto HostCall(Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
    }
    RaiseAllocationFailureToHost();
}
