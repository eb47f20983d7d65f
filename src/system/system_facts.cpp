#include "system/system_facts.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

#include "system/handles.h"

namespace {

constexpr DWORD kPlatformWindows95Family = VER_PLATFORM_WIN32_WINDOWS;
constexpr DWORD kPlatformNT = VER_PLATFORM_WIN32_NT;
constexpr BYTE kProductWorkstation = VER_NT_WORKSTATION;
constexpr DWORD kMajorWindows2000 = 5;
constexpr DWORD kMajorVista = 6;

// The records have the sizes the oldest systems know; a larger size field makes them refuse.
static_assert(sizeof(OSVERSIONINFOA) == 148 && sizeof(OSVERSIONINFOEXA) == 156);
static_assert(sizeof(PROCESSENTRY32) == 304);

// One whole number per version, so that ranges of versions compare as numbers.
constexpr DWORD VersionNumber(DWORD major, DWORD minor) { return major * 256 + minor; }
constexpr DWORD kVersionOldest = 0;
constexpr DWORD kVersionNewest = MAXDWORD;
constexpr DWORD kVersion4_0 = VersionNumber(4, 0);
constexpr DWORD kVersion4_90 = VersionNumber(4, 90);
constexpr DWORD kVersion5_0 = VersionNumber(5, 0);
constexpr DWORD kVersion5_1 = VersionNumber(5, 1);
constexpr DWORD kVersion5_2 = VersionNumber(5, 2);
constexpr DWORD kVersion6_0 = VersionNumber(6, 0);
constexpr DWORD kVersion6_1 = VersionNumber(6, 1);
// Windows 98 Second Edition is told from the first edition only by its build, 4.10.2222.
constexpr DWORD kBuildWindows98SE = 0x040A08AE;
constexpr DWORD kBuildAny = MAXDWORD;

enum class Processor { Any, Amd64 };
// A failed extended query counts as a workstation: an unknown 6.x system is called Vista.
enum class Product { Any, Workstation, Server, WorkstationOrUnknown };

struct OSTypeRow {
    OSType code;
    const char* name;
    DWORD platform;
    DWORD lowestVersion, highestVersion;  // inclusive
    DWORD lowestBuild, highestBuild;      // inclusive
    Processor processor;
    Product product;
};

// The first row that matches decides. Exactly 6.1 with a known product type is Windows 7 or
// its server twin; every other 6.x falls through to the Vista and Server 2008 rows below them.
constexpr OSTypeRow kOSTypes[] = {
    {OS_TYPE_WINDOWS_95, "Windows 95", kPlatformWindows95Family, kVersionOldest, kVersion4_0, 0, kBuildAny,
     Processor::Any, Product::Any},
    {OS_TYPE_WINDOWS_98, "Windows 98", kPlatformWindows95Family, kVersion4_0 + 1, kVersion4_90 - 1, 0,
     kBuildWindows98SE - 1, Processor::Any, Product::Any},
    {OS_TYPE_WINDOWS_98_SE, "Windows 98 SE", kPlatformWindows95Family, kVersion4_0 + 1, kVersion4_90 - 1,
     kBuildWindows98SE, kBuildAny, Processor::Any, Product::Any},
    {OS_TYPE_WINDOWS_ME, "Windows Millennium", kPlatformWindows95Family, kVersion4_90, kVersionNewest, 0, kBuildAny,
     Processor::Any, Product::Any},
    {OS_TYPE_WINDOWS_NT, "Windows NT", kPlatformNT, kVersionOldest, kVersion5_0 - 1, 0, kBuildAny, Processor::Any,
     Product::Any},
    {OS_TYPE_WINDOWS_2000, "Windows 2000", kPlatformNT, kVersion5_0, kVersion5_0, 0, kBuildAny, Processor::Any,
     Product::Any},
    {OS_TYPE_WINDOWS_XP, "Windows XP", kPlatformNT, kVersion5_1, kVersion5_1, 0, kBuildAny, Processor::Any,
     Product::Any},
    {OS_TYPE_WINDOWS_XP, "Windows XP Professional x64", kPlatformNT, kVersion5_2, kVersion6_0 - 1, 0, kBuildAny,
     Processor::Amd64, Product::Any},
    {OS_TYPE_WINDOWS_SERVER_2003, "Windows Server 2003 family", kPlatformNT, kVersion5_2, kVersion6_0 - 1, 0,
     kBuildAny, Processor::Any, Product::Any},
    {OS_TYPE_WINDOWS_7, "Windows 7", kPlatformNT, kVersion6_1, kVersion6_1, 0, kBuildAny, Processor::Any,
     Product::Workstation},
    {OS_TYPE_WINDOWS_SERVER_2008_R2, "Windows Server 2008 R2", kPlatformNT, kVersion6_1, kVersion6_1, 0, kBuildAny,
     Processor::Any, Product::Server},
    {OS_TYPE_WINDOWS_VISTA, "Windows Vista", kPlatformNT, kVersion6_0, kVersionNewest, 0, kBuildAny, Processor::Any,
     Product::WorkstationOrUnknown},
    {OS_TYPE_WINDOWS_SERVER_2008, "Windows Server 2008", kPlatformNT, kVersion6_0, kVersionNewest, 0, kBuildAny,
     Processor::Any, Product::Server},
};
constexpr OSKind kUnknownOS = {OS_TYPE_UNKNOWN, ""};

// The basic version record; a failed query leaves it zero, which every question reads as "no".
OSVERSIONINFOA QueryBasicVersion() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    return info;
}

DWORD VersionNumberOf(const OSVERSIONINFOA& version) {
    return VersionNumber(version.dwMajorVersion, version.dwMinorVersion);
}

// Only NT from 6.0 on is told apart by its product type, so only those ask the second time.
bool NeedsProductType(const OSVERSIONINFOA& version) {
    return version.dwPlatformId == kPlatformNT && VersionNumberOf(version) >= kVersion6_0;
}

std::optional<BYTE> QueryProductType() {
    OSVERSIONINFOEXA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return std::nullopt;
    return info.wProductType;
}

WORD QueryProcessorArchitecture() {
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    return info.wProcessorArchitecture;
}

bool ProcessorMatches(Processor wanted, WORD architecture) {
    return wanted == Processor::Any || architecture == PROCESSOR_ARCHITECTURE_AMD64;
}

bool ProductMatches(Product wanted, std::optional<BYTE> type) {
    switch (wanted) {
    case Product::Workstation:
        return type && *type == kProductWorkstation;
    case Product::Server:
        return type && *type != kProductWorkstation;
    case Product::WorkstationOrUnknown:
        return !type || *type == kProductWorkstation;
    case Product::Any:
        break;
    }
    return true;
}

bool RowMatches(const OSTypeRow& row, const OSVERSIONINFOA& version, std::optional<BYTE> productType,
                WORD architecture) {
    const DWORD number = VersionNumberOf(version);
    return version.dwPlatformId == row.platform && number >= row.lowestVersion && number <= row.highestVersion &&
           version.dwBuildNumber >= row.lowestBuild && version.dwBuildNumber <= row.highestBuild &&
           ProcessorMatches(row.processor, architecture) && ProductMatches(row.product, productType);
}

// NT 4 and older: tool help is missing there, and its process list is not asked for.
bool IsNT4OrOlder() { return IsWindowsNT() && !IsWindows2000OrLater(); }

struct ToolHelp {
    decltype(&CreateToolhelp32Snapshot) createSnapshot;
    decltype(&Process32First) first;
    decltype(&Process32Next) next;
};

// Tool help is bound by name from the kernel32 the process already has loaded, so a system
// without it answers "no process" instead of failing to load the library.
std::optional<ToolHelp> BindToolHelp() {
    const HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (kernel == nullptr) return std::nullopt;
    const ToolHelp toolHelp = {
        ResolveEntryPoint<decltype(&CreateToolhelp32Snapshot)>(kernel, "CreateToolhelp32Snapshot"),
        ResolveEntryPoint<decltype(&Process32First)>(kernel, "Process32First"),
        ResolveEntryPoint<decltype(&Process32Next)>(kernel, "Process32Next"),
    };
    if (!toolHelp.createSnapshot || !toolHelp.first || !toolHelp.next) return std::nullopt;
    return toolHelp;
}

const char* BaseName(const char* path) {
    const char* separator = std::strrchr(path, '\\');
    return separator != nullptr ? separator + 1 : path;
}

// Whether the ANSI code page has single-byte characters only, as most have.
bool IsSingleByteCodePage() {
    CPINFO info = {};
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

// Bytes of the character at `text` in the ANSI code page: 2 for a double-byte character.
std::size_t CharacterLength(const char* text) {
    const auto step = static_cast<std::size_t>(CharNextA(text) - text);
    return step > 1 ? step : 1;
}

}  // namespace

bool IsWindowsNT() { return QueryBasicVersion().dwPlatformId == kPlatformNT; }

bool IsWindows2000OrLater() { return QueryBasicVersion().dwMajorVersion >= kMajorWindows2000; }

bool IsVistaOrLater() { return QueryBasicVersion().dwMajorVersion >= kMajorVista; }

bool IsWindows2000() { return GetOSType() == OS_TYPE_WINDOWS_2000; }

bool IsProcessorArchitecture64(WORD processorArchitecture) {
    return processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           processorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

bool Is64BitSystem() { return IsProcessorArchitecture64(QueryProcessorArchitecture()); }

OSKind ClassifyOS(const OSVERSIONINFOA& version, std::optional<BYTE> productType, WORD processorArchitecture) {
    for (const OSTypeRow& row : kOSTypes) {
        if (RowMatches(row, version, productType, processorArchitecture)) return {row.code, row.name};
    }
    return kUnknownOS;
}

OSType GetOSType(OSTypeName* name) {
    const OSVERSIONINFOA version = QueryBasicVersion();
    const std::optional<BYTE> productType = NeedsProductType(version) ? QueryProductType() : std::nullopt;
    const OSKind kind = ClassifyOS(version, productType, QueryProcessorArchitecture());
    if (name != nullptr) CopyStringBounded(name->data(), kind.name, name->size());
    return kind.code;
}

bool IsExecutableNamed(const char* executableFile, const char* name) {
    return _stricmp(BaseName(executableFile), name) == 0;
}

bool FindProcessByName(const char* name, DWORD* processId) {
    if (name == nullptr || IsNT4OrOlder()) return false;
    const std::optional<ToolHelp> toolHelp = BindToolHelp();
    if (!toolHelp) return false;
    const UniqueFileHandle snapshot(toolHelp->createSnapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;

    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = toolHelp->first(snapshot.get(), &entry); more; more = toolHelp->next(snapshot.get(), &entry)) {
        if (!IsExecutableNamed(entry.szExeFile, name)) continue;
        if (processId != nullptr) *processId = entry.th32ProcessID;
        return true;
    }
    return false;
}

std::size_t CopyStringBounded(char* destination, const char* source, std::size_t size) {
    if (destination == nullptr || size == 0) return 0;
    if (source == nullptr) {
        destination[0] = '\0';
        return 0;
    }
    const std::size_t room = size - 1;
    const std::size_t length = std::strlen(source);
    std::size_t copied = 0;
    if (IsSingleByteCodePage()) {
        // Every character is one byte: stepping through them one by one would answer the same.
        copied = std::min(length, room);
        std::memcpy(destination, source, copied);
        destination[copied] = '\0';
        return length;
    }
    for (const char* at = source; *at != '\0' && copied < room;) {
        const std::size_t length = CharacterLength(at);
        if (length > room - copied) break;  // a double-byte character is never split
        std::memcpy(destination + copied, at, length);
        copied += length;
        at += length;
    }
    destination[copied] = '\0';
    return length;
}
