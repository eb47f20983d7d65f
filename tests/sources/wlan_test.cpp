#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>

#include "child_process.h"
#include "import_patch.h"
#include "resource_counts.h"
#include "sources/wlan.h"
#include "system/handles.h"
#include "system_double.h"
#include "wlan_double.h"

namespace {

std::string SystemWlanLibrary() { return SystemDirectory() + "\\wlanapi.dll"; }

TEST(WlanSupport, NeedsVersionSixOrXpWithExactlyTheThirdServicePack) {
    struct Case {
        DWORD major, minor;
        const char* servicePack;
        bool supported;
    };
    const Case cases[] = {
        {4, 0, "Service Pack 6", false}, {5, 0, "Service Pack 3", false}, {5, 0, "Service Pack 4", false},
        {5, 1, "Service Pack 2", false}, {5, 1, "Service Pack 3", true},  {5, 1, "service pack 3", false},
        {5, 1, "Service Pack 3a", false}, {5, 2, "Service Pack 3", true}, {5, 2, "", false},
        {6, 0, "", true},                 {6, 1, "Service Pack 1", true},  {10, 0, "", true},
    };
    for (const Case& c : cases) {
        OSVERSIONINFOA version = {};
        version.dwOSVersionInfoSize = sizeof version;
        version.dwMajorVersion = c.major;
        version.dwMinorVersion = c.minor;
        std::strcpy(version.szCSDVersion, c.servicePack);
        EXPECT_EQ(IsWlanSupportedVersion(version), c.supported) << c.major << "." << c.minor << " " << c.servicePack;
    }
}

// A child per case, with a double in the system directory. Wine's versions bring their own
// service-pack texts: Windows 2000 never binds, XP with its third service pack does, XP x64
// with its second does not. A double lacking WlanFreeMemory is freed at once and never used.
TEST(Wlan, BindsWhereTheSystemHasTheApiAndAnswersPerAdapter) {
    struct Case {
        const char* doubleDir;
        const char* version;  // "" keeps the prefix's own
        const char* role;
    };
    const Case cases[] = {
        {WLAN_DOUBLE_DIR, "win2k", "unbound"},  {WLAN_DOUBLE_DIR, "winxp", "bound"},
        {WLAN_DOUBLE_DIR, "winxp64", "unbound"}, {WLAN_DOUBLE_DIR, "vista", "bound"},
        {WLAN_DOUBLE_DIR, "", "interfaces"},     {WLAN_DOUBLE_DIR, "", "unload"},
        {WLAN_DOUBLE_WITHOUT_FREE_DIR, "", "unbound"},
    };
    for (const Case& c : cases) {
        const ScopedSystemDouble installed(WinePath(c.doubleDir) + "\\wlanapi.dll", "wlanapi.dll");
        ChildOptions options;
        options.tag = std::string(c.role) + c.version;
        options.windowsVersion = c.version;
        // Wine loads its built-in library unless a program's load order prefers the file.
        options.dllOverrides = {{"wlanapi", "native"}};
        options.childArgument = c.role;
        const ChildRun run = RunChild("WlanChild.*", options);
        EXPECT_TRUE(ChildPassed(run)) << c.role << " " << c.version << ":\n" << run.output;
    }
}

int g_versionQueries = 0;
decltype(&GetVersionExA) g_realGetVersion = nullptr;
BOOL WINAPI CountingGetVersionExA(OSVERSIONINFOA* version) {
    ++g_versionQueries;
    return g_realGetVersion(version);
}

TEST(WlanChild, IsBoundAsTheSystemAllowsOncePerProcess) {
    const std::string role = ChildArgument();
    if (role != "bound" && role != "unbound") GTEST_SKIP() << "runs only as a child";
    ImportPatch versionQuery(ThisExecutable(), "KERNEL32.dll", "GetVersionExA", &CountingGetVersionExA,
                             &g_realGetVersion);

    CWlanAPI* const wlan = GetWlanAPI();
    EXPECT_EQ(wlan != nullptr, role == "bound");
    EXPECT_EQ(IsModuleLoaded(SystemWlanLibrary().c_str()), role == "bound");
    EXPECT_EQ(GetWlanAPI(), wlan);
    EXPECT_EQ(g_versionQueries, 1) << "the system is judged once per process";
    if (wlan) {
        const HMODULE library = GetModuleHandleA(SystemWlanLibrary().c_str());
        EXPECT_NE(ResolveEntryPoint<DoubleOutstandingFunction>(library, "DoubleOutstanding"), nullptr)
            << "Wine's own library was loaded";
    }
}

TEST(WlanChild, AnswersFromTheInterfaceList) {
    if (ChildArgument() != "interfaces") GTEST_SKIP() << "runs only as a child";
    CWlanAPI* const wlan = GetWlanAPI();
    ASSERT_NE(wlan, nullptr);
    const auto outstanding = ResolveEntryPoint<DoubleOutstandingFunction>(GetModuleHandleA(SystemWlanLibrary().c_str()),
                                                                          "DoubleOutstanding");
    ASSERT_NE(outstanding, nullptr);

    const std::string first = "{5A1E0001-0000-4000-8000-00000000A1FA}";
    const std::string second = "{5A1E0002-0000-4000-8000-00000000B2FB}";
    std::string lowerSecond = second;
    for (char& c : lowerSecond) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string both = first + "," + second;
    struct Case {
        std::string interfaces;
        std::string adapter;
        int answer;
    };
    const Case cases[] = {
        {both, first, 1},
        {both, second, 1},
        {both, lowerSecond, 0},  // the interface's text is upper case
        {first, second, 0},
        {"", first, 0},
        {kWlanFailOpen, first, 0},
        {kWlanFailEnum, first, 0},
        {both, second + std::string(600, ' '), 0},  // cut to the conversion buffer, no overrun
    };
    const HandleCount handles;
    for (const Case& c : cases) {
        SetEnvironmentVariableA(kWlanDoubleVariable, c.interfaces.c_str());
        EXPECT_EQ(wlan->IsWirelessAdapter(c.adapter.c_str()), c.answer) << c.interfaces << " / " << c.adapter;
        EXPECT_EQ(outstanding(), 0) << "client handle or interface list kept: " << c.interfaces;
    }
    EXPECT_EQ(handles.Added(), 0);
}

// Unloading the library that built the binding destroys it, and that frees wlanapi.dll.
TEST(WlanChild, GoesWithTheLibraryThatBuiltIt) {
    if (ChildArgument() != "unload") GTEST_SKIP() << "runs only as a child";
    const std::string host = WinePath(WLAN_HOST_DIR) + "\\wlan_host.dll";
    UniqueModule module(LoadLibraryA(host.c_str()));
    ASSERT_TRUE(module);
    const auto hostHasWlanAPI = ResolveEntryPoint<bool (*)()>(module.get(), "HostHasWlanAPI");
    ASSERT_NE(hostHasWlanAPI, nullptr);
    EXPECT_TRUE(hostHasWlanAPI());
    EXPECT_TRUE(IsModuleLoaded(SystemWlanLibrary().c_str()));
    module.reset();
    EXPECT_FALSE(IsModuleLoaded(SystemWlanLibrary().c_str()));
}

}  // namespace
