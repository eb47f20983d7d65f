#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "child_process.h"
#include "import_patch.h"
#include "resource_counts.h"
#include "sources/wlan.h"
#include "system/handles.h"
#include "wlan_double.h"

namespace {

constexpr char kWlanLibrary[] = "wlanapi.dll";

// Rows no version Wine emulates reaches: a service-pack text almost the one, the version bounds either side of XP.
TEST(WlanSupport, NeedsVersionSixOrXpWithExactlyTheThirdServicePack) {
    const struct { DWORD major, minor; const char* servicePack; bool supported; } cases[] = {
        {4, 10, "Service Pack 3", false}, {5, 0, "Service Pack 3", false}, {5, 1, "service pack 3", false},
        {5, 1, "Service Pack 3a", false}, {5, 2, "Service Pack 3", true},  {6, 0, "", true}, {10, 0, "", true},
    };
    for (const auto& c : cases) {
        OSVERSIONINFOA version = {sizeof version, c.major, c.minor, 0, VER_PLATFORM_WIN32_NT, {}};
        std::strcpy(version.szCSDVersion, c.servicePack);
        EXPECT_EQ(IsWlanSupportedVersion(version), c.supported) << c.major << "." << c.minor << " " << c.servicePack;
    }
}

int g_versionQueries = 0;
decltype(&GetVersionExA) g_realGetVersion = nullptr;
BOOL WINAPI CountingGetVersionExA(OSVERSIONINFOA* version) { return ++g_versionQueries, g_realGetVersion(version); }

// A child per case, with a double in the system directory. Wine's versions bring their own
// service-pack texts: Windows 2000 never binds, XP with its third service pack does, XP x64 with
// its second does not. A double lacking WlanFreeMemory is freed at once and never used.
TEST(Wlan, IsBoundAsTheSystemAllowsAndAnswersFromTheInterfaceList) {
    const std::string role = ChildArgument();
    if (role.empty()) {
        const struct {
            const char *doubleName, *version, *role;  // version "": the prefix's own
        } cases[] = {{"wlanapi_double", "win2k", "unbound"}, {"wlanapi_double", "winxp", "bound"},
                     {"wlanapi_double", "winxp64", "unbound"}, {"wlanapi_without_free", "", "unbound"}};
        for (const auto& c : cases)  // the load order: else Wine loads its built-in library
            ExpectChildPasses({.windowsVersion = c.version, .dllOverrides = {{"wlanapi", "native"}},
                               .systemDouble = WinePath(DOUBLES_DIR "/") + c.doubleName + "\\" + kWlanLibrary,
                               .childArgument = c.role});
        return;
    }
    const ImportPatch versionQuery(ThisExecutable(), "KERNEL32.dll", "GetVersionExA", &CountingGetVersionExA,
                                   &g_realGetVersion);
    CWlanAPI* const wlan = GetWlanAPI();
    EXPECT_EQ(GetWlanAPI(), wlan);
    EXPECT_EQ(g_versionQueries, 1) << "the system is judged once per process";
    const HMODULE library = GetModuleHandleA(kWlanLibrary);
    EXPECT_EQ(library != nullptr, role == "bound");
    ASSERT_EQ(wlan != nullptr, role == "bound");
    if (!wlan) return;
    const auto outstanding = ResolveEntryPoint<DoubleOutstandingFunction>(library, "DoubleOutstanding");
    ASSERT_NE(outstanding, nullptr) << "Wine's own library was loaded";

    const std::string first = "{5A1E0001-0000-4000-8000-00000000A1FA}", second = "{5A1E0002-0000-4000-8000-00000000B2FB}";
    const std::string both = first + "," + second;
    const struct { std::string interfaces, adapter; int answer; } cases[] = {
        {both, first, 1}, {both, second, 1}, {first, second, 0}, {"", first, 0},
        {kWlanFailOpen, first, 0}, {kWlanFailEnum, first, 0},
        {both, "{5a1e0002-0000-4000-8000-00000000b2fb}", 0},  // the second in lower case: the interface's is upper
        {both, second + std::string(600, ' '), 0},            // cut to the conversion buffer, no overrun
    };
    const HandleCount handles;
    for (const auto& c : cases) {
        SetEnvironmentVariableA(kWlanDoubleVariable, c.interfaces.c_str());
        EXPECT_EQ(wlan->IsWirelessAdapter(c.adapter.c_str()), c.answer) << c.interfaces << " / " << c.adapter;
        EXPECT_EQ(outstanding(), 0) << "client handle or interface list kept: " << c.interfaces;
    }
    EXPECT_EQ(handles.Added(), 0);
}

// Unloading the library that built the binding destroys it, and that frees Wine's wlanapi.dll.
TEST(Wlan, GoesWithTheLibraryThatBuiltIt) {
    ASSERT_FALSE(IsModuleLoaded(kWlanLibrary));
    UniqueModule host(LoadLibraryA((WinePath(DOUBLES_DIR "/wlan_host") + "\\wlan_host.dll").c_str()));
    ASSERT_TRUE(host);
    const auto hostHasWlanAPI = ResolveEntryPoint<bool (*)()>(host.get(), "HostHasWlanAPI");
    ASSERT_NE(hostHasWlanAPI, nullptr);
    EXPECT_TRUE(hostHasWlanAPI());
    EXPECT_TRUE(IsModuleLoaded(kWlanLibrary));
    host.reset();
    EXPECT_FALSE(IsModuleLoaded(kWlanLibrary));
}

}  // namespace
