// Stateless answers about the machine: Windows family and version, processor, running
// processes. Every call asks the system again; any thread may call. A failing system call
// gives the negative answer, and nothing is reported.
#pragma once

#include <windows.h>

#include <cstddef>

bool IsWindowsNT();            // platform identifier 2
bool IsWindows2000OrLater();   // major version 5 or more
bool IsVistaOrLater();         // major version 6 or more
bool IsWindows2000();          // GetOSType() gives 6
bool Is64BitSystem();          // AMD64 or IA64 processor

// A running process whose executable's base name equals `name` without regard to case; its
// identifier is written to *processId only when one is found.
bool FindProcessByName(const char* name, DWORD* processId);

// Copies `source` into `destination` of `size` bytes without splitting a double-byte character
// of the ANSI code page; answers the whole source's length in bytes (>= size means cut short).
std::size_t CopyStringBounded(char* destination, const char* source, std::size_t size);
