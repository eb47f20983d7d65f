// A wireless LAN library whose interface list ("{GUID},{GUID},...") or failure the test sets in
// an environment variable, read at every call; it counts client handles and lists not given
// back. One build lacks WlanFreeMemory.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "client_library_double.h"  // EnvironmentText
#include "wlan_double.h"

namespace {

// The interface list as the system lays it out, written down here rather than taken from the
// system's header so that the binding is checked against the layout, not against itself.
struct InterfaceInfo {
    GUID interfaceGuid;
    WCHAR description[256];
    DWORD state;
};
static_assert(sizeof(InterfaceInfo) == 532, "an interface item is 532 bytes");
struct InterfaceList {
    DWORD numberOfItems;
    DWORD index;
    InterfaceInfo items[1];
};

constexpr DWORD kClientVersion = 2;
constexpr std::size_t kGuidTextLength = 38;
std::atomic<LONG> g_outstanding{0};
char g_handleCookie;

// "{GUID},{GUID},...": each GUID text is of fixed length.
std::vector<GUID> Interfaces(const std::string& scenario) {
    std::vector<GUID> guids;
    for (std::size_t at = 0; at + kGuidTextLength <= scenario.size(); at += kGuidTextLength + 1) {
        const std::wstring text(scenario.begin() + at, scenario.begin() + at + kGuidTextLength);
        GUID guid;
        if (SUCCEEDED(CLSIDFromString(text.c_str(), &guid))) guids.push_back(guid);
    }
    return guids;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI WlanOpenHandle(DWORD clientVersion, void* reserved, DWORD* negotiated,
                                                  HANDLE* client) {
    if (clientVersion != kClientVersion || reserved || !negotiated || !client) return ERROR_INVALID_PARAMETER;
    if (EnvironmentText(kWlanDoubleVariable) == kWlanFailOpen) return ERROR_SERVICE_NOT_ACTIVE;
    *negotiated = kClientVersion;
    *client = &g_handleCookie;
    ++g_outstanding;
    return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI WlanCloseHandle(HANDLE client, void* reserved) {
    if (client != &g_handleCookie || reserved) return ERROR_INVALID_PARAMETER;
    --g_outstanding;
    return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI WlanEnumInterfaces(HANDLE client, void* reserved, InterfaceList** list) {
    if (client != &g_handleCookie || reserved || !list) return ERROR_INVALID_PARAMETER;
    const std::string scenario = EnvironmentText(kWlanDoubleVariable);
    if (scenario == kWlanFailEnum) return ERROR_NOT_ENOUGH_MEMORY;
    const std::vector<GUID> guids = Interfaces(scenario);
    const std::size_t size = offsetof(InterfaceList, items) + (guids.size() + 1) * sizeof(InterfaceInfo);
    auto* result = static_cast<InterfaceList*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!result) return ERROR_NOT_ENOUGH_MEMORY;
    result->numberOfItems = static_cast<DWORD>(guids.size());
    for (std::size_t i = 0; i < guids.size(); ++i) result->items[i].interfaceGuid = guids[i];
    *list = result;
    ++g_outstanding;
    return ERROR_SUCCESS;
}

#ifndef WITHOUT_WLAN_FREE_MEMORY
__declspec(dllexport) void WINAPI WlanFreeMemory(void* memory) {
    if (!memory) return;
    HeapFree(GetProcessHeap(), 0, memory);
    --g_outstanding;
}
#endif

__declspec(dllexport) LONG DoubleOutstanding() { return g_outstanding; }

}  // extern "C"
