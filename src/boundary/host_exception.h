// Raising a CQndException* across the boundary the way Microsoft's runtime raises a C++
// exception, so that an MSVC-built host's `catch (CQndException*)` (or `catch (void*)`) takes it.
#pragma once

#include <linkset/exception.h>

[[noreturn]] void RaiseToHost(CQndException* exception);
