// Stateless answers about the machine: Windows family and version, processor, running
// processes. Every call asks the system again; any thread may call. A failing system call
// gives the negative answer, and nothing is reported.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <optional>

bool IsWindowsNT();            // platform identifier 2
bool IsWindows2000OrLater();   // major version 5 or more
bool IsVistaOrLater();         // major version 6 or more
bool IsWindows2000();          // GetOSType() gives 6
bool Is64BitSystem();          // AMD64 or IA64 processor

// The kinds of Windows the library tells apart. XP and XP Professional x64 share a code.
enum OSType : int {
    OS_TYPE_UNKNOWN = 0,  // neither the 95 nor the NT family, or the version query failed
    OS_TYPE_WINDOWS_95 = 1,
    OS_TYPE_WINDOWS_98 = 2,
    OS_TYPE_WINDOWS_98_SE = 3,
    OS_TYPE_WINDOWS_ME = 4,
    OS_TYPE_WINDOWS_NT = 5,
    OS_TYPE_WINDOWS_2000 = 6,
    OS_TYPE_WINDOWS_XP = 7,
    OS_TYPE_WINDOWS_SERVER_2003 = 8,
    OS_TYPE_WINDOWS_VISTA = 9,
    OS_TYPE_WINDOWS_SERVER_2008 = 10,
    OS_TYPE_WINDOWS_7 = 11,
    OS_TYPE_WINDOWS_SERVER_2008_R2 = 12,
};

constexpr std::size_t kOSTypeNameSize = 32;
using OSTypeName = std::array<char, kOSTypeNameSize>;

// The kind of Windows this is. When `name` is given it receives the display name, "" for
// OS_TYPE_UNKNOWN.
OSType GetOSType(OSTypeName* name = nullptr);

// The decision GetOSType makes, on facts given rather than asked: the basic version record,
// the product type of the extended record (none when that query failed; only read from 6.0
// on) and the processor architecture (only read for 5.2).
struct OSKind {
    OSType code;
    const char* name;
};
OSKind ClassifyOS(const OSVERSIONINFOA& version, std::optional<BYTE> productType, WORD processorArchitecture);

// Whether a processor architecture word of SYSTEM_INFO names a 64-bit processor.
bool IsProcessorArchitecture64(WORD processorArchitecture);

// A running process whose executable's base name equals `name` without regard to case; its
// identifier is written to *processId only when one is found.
bool FindProcessByName(const char* name, DWORD* processId);
// Whether the executable-file text of a process entry (a base name or a full path) names
// `name`: only the part behind the last backslash is compared, without regard to case.
bool IsExecutableNamed(const char* executableFile, const char* name);

// Copies `source` into `destination` of `size` bytes without splitting a double-byte character
// of the ANSI code page; answers the whole source's length in bytes (>= size means cut short).
std::size_t CopyStringBounded(char* destination, const char* source, std::size_t size);
