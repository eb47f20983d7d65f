#include "sources/wlan.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include "sources/entry_points.h"

namespace {

constexpr DWORD kWlanClientVersion = 2;         // the client API of Vista and later
constexpr std::size_t kSystemPathSize = MAX_PATH;
constexpr char kWlanLibrary[] = "wlanapi.dll";
constexpr std::size_t kAdapterNameChars = 512;  // no GUID text comes near it

// Before Vista, the API came with XP's third service pack and nothing earlier.
constexpr DWORD kFirstVersionWithWlan = 6;
constexpr DWORD kXpMajorVersion = 5;
constexpr DWORD kXpMinorVersion = 1;
constexpr char kServicePackWithWlan[] = "Service Pack 3";

// Owns something the wireless LAN API handed out and gives it back through the API's own entry
// point, so the client handle and the interface list are released on every path.
template <class Value, class Release>
class WlanOwned {
public:
    WlanOwned(Value value, Release release) : m_value(value), m_release(release) {}
    ~WlanOwned() { m_release(m_value); }
    WlanOwned(const WlanOwned&) = delete;
    WlanOwned& operator=(const WlanOwned&) = delete;
    Value get() const { return m_value; }

private:
    Value m_value;
    Release m_release;
};

// Whether `guid`, in the registry's text form (braces, upper-case hex), is `name`.
bool IsGuidNamed(const GUID& guid, const wchar_t* name) {
    LPOLESTR text = nullptr;
    if (FAILED(StringFromCLSID(guid, &text)) || !text) return false;
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(text, &CoTaskMemFree);
    return std::wcscmp(text, name) == 0;
}

bool ListsInterface(const WLAN_INTERFACE_INFO_LIST& list, const wchar_t* name) {
    return std::any_of(list.InterfaceInfo, list.InterfaceInfo + list.dwNumberOfItems,
                       [name](const WLAN_INTERFACE_INFO& item) { return IsGuidNamed(item.InterfaceGuid, name); });
}

}  // namespace

const char* const CWlanAPI::kEntryPointNames[kEntryPointCount] = {"WlanOpenHandle", "WlanCloseHandle",
                                                                  "WlanFreeMemory", "WlanEnumInterfaces"};

CWlanAPI::CWlanAPI() {
    if (!IsWlanSupportedOS()) return;
    // Always the system directory's copy: the API is part of the system, never of a program.
    char directory[kSystemPathSize] = {};
    const UINT length = GetSystemDirectoryA(directory, sizeof directory);
    char path[kSystemPathSize];
    if (length == 0 || length >= sizeof directory) return;
    const int written = std::snprintf(path, sizeof path, "%s\\%s", directory, kWlanLibrary);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof path) return;
    m_module.reset(LoadLibraryA(path));
    if (m_module && !ResolveEntryPoints(m_module.get(), kEntryPointNames, m_entryPoints)) Reset();
}

CWlanAPI::~CWlanAPI() { Reset(); }

void CWlanAPI::Reset() {
    std::fill(std::begin(m_entryPoints), std::end(m_entryPoints), nullptr);
    m_module.reset();
}

int CWlanAPI::IsWirelessAdapter(const char* adapterName) const {
    if (!IsBound() || !adapterName) return 0;
    const auto openHandle = EntryPointAs<decltype(&::WlanOpenHandle)>(kOpenHandle);
    const auto closeHandle = EntryPointAs<decltype(&::WlanCloseHandle)>(kCloseHandle);
    const auto freeMemory = EntryPointAs<decltype(&::WlanFreeMemory)>(kFreeMemory);
    const auto enumInterfaces = EntryPointAs<decltype(&::WlanEnumInterfaces)>(kEnumInterfaces);

    // A client handle of its own for every question: nothing is kept between calls.
    DWORD negotiatedVersion = 0;
    HANDLE clientHandle = nullptr;
    if (openHandle(kWlanClientVersion, nullptr, &negotiatedVersion, &clientHandle) != ERROR_SUCCESS) return 0;
    const WlanOwned client(clientHandle, [closeHandle](HANDLE handle) { closeHandle(handle, nullptr); });

    WLAN_INTERFACE_INFO_LIST* interfaces = nullptr;
    if (enumInterfaces(client.get(), nullptr, &interfaces) != ERROR_SUCCESS || !interfaces) return 0;
    const WlanOwned list(interfaces, freeMemory);

    // A name too long for the buffer is cut, not refused: the conversion truncates and always
    // terminates, and a cut name simply matches no interface.
    wchar_t wideName[kAdapterNameChars] = {};
    std::size_t converted = 0;
    mbstowcs_s(&converted, wideName, kAdapterNameChars, adapterName, _TRUNCATE);
    return ListsInterface(*list.get(), wideName) ? 1 : 0;
}

CWlanAPI* GetWlanAPI() {
    // Built on the first question and destroyed with the library's other static objects when
    // the library is unloaded, which frees wlanapi.dll. The system is judged once per process.
    // Several managers' threads may ask first at once: the construction is theirs in turn.
    static std::atomic_flag constructing = ATOMIC_FLAG_INIT;
    while (constructing.test_and_set(std::memory_order_acquire)) Sleep(0);
    static CWlanAPI instance;
    constructing.clear(std::memory_order_release);
    return instance.IsBound() ? &instance : nullptr;
}

bool IsWlanSupportedVersion(const OSVERSIONINFOA& version) {
    if (version.dwMajorVersion >= kFirstVersionWithWlan) return true;
    return version.dwMajorVersion == kXpMajorVersion && version.dwMinorVersion >= kXpMinorVersion &&
           std::strcmp(version.szCSDVersion, kServicePackWithWlan) == 0;
}

bool IsWlanSupportedOS() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && IsWlanSupportedVersion(version);
}
