// What a call of a pure virtual operation does: the slots of every abstract interface lead here
// through the C++ runtime's pure-virtual hook.
#include <windows.h>

#include "boundary/pure_call.h"

#include "boundary/debug_output.h"

int PureCallHandler() {
    WriteDebugLine("<Linkset>: pure function exception.");
    DebugBreak();
    return 0;
}

// Replaces the runtime's own hook, which would abort the host process.
extern "C" int __cxa_pure_virtual() { return PureCallHandler(); }
