// The library raises its CQndException* the way Microsoft's runtime raises a C++ exception, so
// an MSVC-built host catches it with `catch (CQndException*)`. GCC's `catch` does not take such
// a foreign exception; this is how a GCC-built host such as linkset takes it instead.
#pragma once

#include <linkset/linkset.h>

// Calls LsCreateLinkSetManager. When the library raises its exception instead of answering, the
// answer is null and *failure holds the exception, which the caller disposes of with Delete().
ILinkSetManager* CreateManagerCatchingFailure(CQndException** failure);
