#pragma once

// Reports "<Linkset>: pure function exception.", breaks into the debugger, and answers 0 if
// execution goes on.
int PureCallHandler();
