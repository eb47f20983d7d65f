// Wireless LAN listing the interfaces a test sets in the environment ("{GUID},...").
#include <objbase.h>

#include <cstddef>

#include "double_support.h"

namespace {

// The system's layout, written out here so that the binding is checked against it, not itself.
struct InterfaceInfo { GUID interfaceGuid; WCHAR description[256]; DWORD state; };
static_assert(sizeof(InterfaceInfo) == 532, "an interface item is 532 bytes");
struct InterfaceList { DWORD numberOfItems, index; InterfaceInfo items[1]; };

constexpr DWORD kClientVersion = 2;
constexpr std::size_t kGuidTextLength = 38;
char g_handleCookie;

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI WlanOpenHandle(DWORD clientVersion, void* reserved, DWORD* negotiated,
                                                  HANDLE* client) {
    if (clientVersion != kClientVersion || reserved || !negotiated || !client) return ERROR_INVALID_PARAMETER;
    *negotiated = kClientVersion;
    *client = &g_handleCookie;
    return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI WlanCloseHandle(HANDLE client, void* reserved) {
    return client != &g_handleCookie || reserved ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI WlanEnumInterfaces(HANDLE client, void* reserved, InterfaceList** list) {
    if (client != &g_handleCookie || reserved || !list) return ERROR_INVALID_PARAMETER;
    const std::string scenario = EnvironmentText(kWlanDoubleVariable);
    const std::size_t slots = (scenario.size() + 1) / (kGuidTextLength + 1);  // one for each "{GUID}"
    const std::size_t size = offsetof(InterfaceList, items) + (slots + 1) * sizeof(InterfaceInfo);
    auto* result = static_cast<InterfaceList*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!result) return ERROR_NOT_ENOUGH_MEMORY;
    for (std::size_t at = 0; at + kGuidTextLength <= scenario.size(); at += kGuidTextLength + 1) {
        const std::wstring text(scenario.begin() + at, scenario.begin() + at + kGuidTextLength);
        if (SUCCEEDED(CLSIDFromString(text.c_str(), &result->items[result->numberOfItems].interfaceGuid)))
            ++result->numberOfItems;
    }
    *list = result;
    return ERROR_SUCCESS;
}

__declspec(dllexport) void WINAPI WlanFreeMemory(void* memory) { HeapFree(GetProcessHeap(), 0, memory); }

}  // extern "C"
