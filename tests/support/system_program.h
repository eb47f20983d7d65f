// A system program (the command shell, the Explorer) waiting on input that never comes, for a scope.
#pragma once

#include "child_process.h"

using SystemProgram = RunningProgram;
