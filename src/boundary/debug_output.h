// The one path by which lines reach the host's debug log, and the two process-wide outputs.
#pragma once

#include <linkset/outputstr.h>

#include <atomic>

extern std::atomic<IDebugLog*> g_pDebugLog;
extern EventOutputCallback g_pfnEventOutput;

// Sends message and "\n" to the host's log if one is installed and enabled. Nothing is built
// or allocated otherwise.
void WriteDebugLine(const char* message);
void WriteDebugLine(const outputstr& message);

// The same without the line feed, for a line whose second half follows later.
void WriteDebugText(const char* message);
