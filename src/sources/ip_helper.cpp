#include "sources/ip_helper.h"

#include <iphlpapi.h>

#include <cstring>
#include <cwchar>
#include <iterator>

#include "boundary/debug_output.h"
#include "boundary/outputstr.h"
#include "sources/entry_points.h"

namespace {

constexpr char kIpHelperName[] = "iphlpapi.dll";
constexpr DWORD kPathBufferSize = 32768;  // room of every path this binding asks for or builds
constexpr int kWidePathChars = MAX_PATH;  // the version reader's path
constexpr unsigned long kLow16Bits = 0xFFFF;

// The one build of IP Helper that is never used. The build's own "FileVersion" string pads its
// minor number; the text compared is composed from the fixed block and never does, so the first
// spelling is the one that matches in practice.
constexpr const char* kRefusedVersions[] = {"5.0.1952.1", "5.00.1952.1"};

enum IpHelperFunction {
    kGetAdaptersInfo,
    kGetNetworkParams,
    kGetNumberOfInterfaces,
    kGetIfTable,
    kGetIfEntry,
    kGetIpForwardTable,
    kGetIpAddrTable,
    kGetIpNetTable,
    kGetPerAdapterInfo,
    kIpHelperFunctionCount
};
constexpr const char* kIpHelperFunctionNames[kIpHelperFunctionCount] = {
    "GetAdaptersInfo", "GetNetworkParams", "GetNumberOfInterfaces", "GetIfTable",       "GetIfEntry",
    "GetIpForwardTable", "GetIpAddrTable", "GetIpNetTable",         "GetPerAdapterInfo"};

// One set for the whole library, written by every load that found a copy. Each binding tests
// its own module before it calls, so a set left behind by an unloaded binding is never used.
void* g_ipHelperEntryPoints[kIpHelperFunctionCount];

// The entry point typed as the system declares it, or null while `module` is not loaded.
template <class Function>
Function BoundEntryPoint(const UniqueModule& module, IpHelperFunction which) {
    return module ? reinterpret_cast<Function>(g_ipHelperEntryPoints[which]) : nullptr;
}

// The US English / Windows Latin 1 string table, which most files carry whatever their
// translation table says.
constexpr wchar_t kFallbackStringTable[] = L"040904E4";

struct LanguageCodePage {
    WORD language;
    WORD codePage;
};

// A non-empty string of a version resource: first from the table of the file's own language and
// code page, then from the fallback table. Null when neither has one.
const wchar_t* QueryVersionString(void* block, const LanguageCodePage& translation, const wchar_t* name,
                                  UINT& length) {
    wchar_t own[16];
    std::swprintf(own, std::size(own), L"%04x%04x", translation.language, translation.codePage);
    for (const wchar_t* table : {static_cast<const wchar_t*>(own), kFallbackStringTable}) {
        wchar_t query[64];
        std::swprintf(query, std::size(query), L"\\StringFileInfo\\%ls\\%ls", table, name);
        wchar_t* text = nullptr;
        if (VerQueryValueW(block, query, reinterpret_cast<void**>(&text), &length) && length != 0 && text) return text;
    }
    return nullptr;
}

outputstr Utf8Text(const wchar_t* text, UINT length) {
    const int chars = static_cast<int>(wcsnlen(text, length));
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return outputstr();
    std::string converted(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, chars, converted.data(), bytes, nullptr, nullptr);
    return outputstr(converted.c_str());
}

// "major.minor.build.revision" from the two file-version words of the fixed block. Composed from
// numbers, the text never carries leading zeros, whatever the file's own version string says.
outputstr FileVersionText(const VS_FIXEDFILEINFO& fixed) {
    const DWORD numbers[] = {HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS),
                             HIWORD(fixed.dwFileVersionLS), LOWORD(fixed.dwFileVersionLS)};
    outputstr text;
    for (std::size_t i = 0; i < std::size(numbers); ++i) {
        if (i != 0) text = std::move(text) + '.';
        text = AppendDecimal(std::move(text), numbers[i]);
    }
    return text;
}

// The fixed block, when the resource has one: a root value shorter than the block means none.
const VS_FIXEDFILEINFO* FixedBlock(void* block) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&fixed), &length)) return nullptr;
    return length >= sizeof(VS_FIXEDFILEINFO) && fixed ? fixed : nullptr;
}

bool IsRefusedVersion(const char* version) {
    for (const char* refused : kRefusedVersions)
        if (std::strcmp(version, refused) == 0) return true;
    return false;
}

std::string ModuleFileName(HMODULE module) {
    std::string name(kPathBufferSize, '\0');
    const DWORD length = GetModuleFileNameA(module, name.data(), kPathBufferSize);
    name.resize(length < kPathBufferSize ? length : 0);
    return name;
}

// "<system directory>\iphlpapi.dll", or "" when the system directory is not known.
std::string SystemDirectoryCopy() {
    std::string directory(kPathBufferSize, '\0');
    const UINT length = GetSystemDirectoryA(directory.data(), kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) return {};
    directory.resize(length);
    std::string path = directory + "\\" + kIpHelperName;
    return path.size() < kPathBufferSize ? path : std::string();
}

}  // namespace

CIpHelperAPI::CIpHelperAPI() { Load(); }

CIpHelperAPI::~CIpHelperAPI() { Unload(); }

int CIpHelperAPI::Load() {
    if (m_module) return 0;
    std::string path;
    if (FindIpHelperPath(path) != 0) {
        WriteDebugLine("Can't load Iphlpapi.dll");
        return -1;
    }
    m_module.reset(LoadLibraryA(path.c_str()));
    // A missing entry point disables only its own wrapper; the copy is used all the same.
    if (!ResolveEntryPoints(m_module.get(), kIpHelperFunctionNames, g_ipHelperEntryPoints))
        WriteDebugLine("some function can't be loaded!");
    return 0;
}

int CIpHelperAPI::Unload() {
    m_module.reset();
    return 0;
}

int CIpHelperAPI::GetAdaptersInfo(IP_ADAPTER_INFO* buffer, ULONG* size) const {
    const auto function = BoundEntryPoint<decltype(&::GetAdaptersInfo)>(m_module, kGetAdaptersInfo);
    return function ? static_cast<int>(function(buffer, size)) : ERROR_NOT_SUPPORTED;
}

int CIpHelperAPI::GetIfTable(MIB_IFTABLE* table, ULONG* size) const {
    const auto function = BoundEntryPoint<decltype(&::GetIfTable)>(m_module, kGetIfTable);
    return function ? static_cast<int>(function(table, size, TRUE)) : ERROR_NOT_SUPPORTED;
}

int CIpHelperAPI::GetPerAdapterInfo(ULONG index, IP_PER_ADAPTER_INFO* buffer, ULONG* size) const {
    const auto function = BoundEntryPoint<decltype(&::GetPerAdapterInfo)>(m_module, kGetPerAdapterInfo);
    return function ? static_cast<int>(function(index, buffer, size)) : ERROR_NOT_SUPPORTED;
}

int FindIpHelperPath(std::string& path) {
    // The bare name lets the system's search order choose; only a refused build there sends the
    // search to the system directory.
    std::string candidate = kIpHelperName;
    if (CheckIpHelperVersion(candidate) != 0) {
        candidate = SystemDirectoryCopy();
        if (candidate.empty() || CheckIpHelperVersion(candidate) != 0) return -1;
    }
    path = std::move(candidate);
    return 0;
}

int CheckIpHelperVersion(const std::string& path) {
    const UniqueModule module(LoadLibraryA(path.c_str()));
    if (!module) return -1;
    // The file that was really loaded is judged, not the name that was asked for.
    const std::string file = ModuleFileName(module.get());
    if (file.empty()) return -1;
    FileVersionRecord record;
    if (ReadFileVersion(file.c_str(), record) != 0) return -1;
    return IsRefusedVersion(record.fileVersion.c_str()) ? -1 : 0;
}

int ReadFileVersion(const char* path, FileVersionRecord& record) {
    wchar_t widePath[kWidePathChars] = {};
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath, kWidePathChars) == 0) return -1;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(widePath, &ignored);
    if (size == 0) return -1;
    // Twice the size asked for: the version reader may keep converted texts behind the resource.
    const DWORD room = size * 2;
    const UniqueHeapBlock block = HeapAllocZeroed(room);
    if (!block || !GetFileVersionInfoW(widePath, 0, room, block.get())) return -1;

    LanguageCodePage* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof(LanguageCodePage) || !translation)
        return -1;

    // The description is kept even when the file then turns out to have no version string.
    const wchar_t* description = QueryVersionString(block.get(), *translation, L"FileDescription", length);
    record.fileDescription = description ? Utf8Text(description, length) : outputstr();
    // Only the presence of the version string counts: its text may be padded or decorated.
    if (!QueryVersionString(block.get(), *translation, L"FileVersion", length)) return -1;

    const VS_FIXEDFILEINFO* fixed = FixedBlock(block.get());
    record.fileVersion = fixed ? FileVersionText(*fixed) : outputstr();
    record.fileName = outputstr(path);
    return 0;
}

outputstr AppendDecimal(outputstr text, unsigned long value) { return std::move(text) + (value & kLow16Bits); }
