// The manager's start failure as the library's own CQndException*, for a host that wants that
// object rather than linkset::start_error (the contract tests read its fields). The C++ layer's
// guard does the catching, the same way for every compiler.
#pragma once

#include <linkset/linkset.h>

// Calls LsCreateLinkSetManager. When the library raises its exception instead of answering, the
// answer is null and *failure holds the exception, which the caller disposes of with Delete().
ILinkSetManager* CreateManagerCatchingFailure(CQndException** failure);
