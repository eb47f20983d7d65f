#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "child_process.h"
#include "import_patch.h"
#include "machine.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "sources/ip_helper.h"

namespace {

constexpr char kIpHelper[] = "iphlpapi.dll";

std::string DoubleDir(const std::string& name) { return WinePath(DOUBLES_DIR "/" + name); }

void ExpectUnbound(const CIpHelperAPI& ipHelper) {
    ULONG size = 0;
    EXPECT_EQ(ipHelper.GetAdaptersInfo(nullptr, &size), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(ipHelper.GetIfTable(nullptr, &size), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(ipHelper.GetPerAdapterInfo(1, nullptr, &size), ERROR_NOT_SUPPORTED);
}

int g_loadLibraryCalls = 0;
decltype(&LoadLibraryA) g_realLoadLibrary = nullptr;
HMODULE WINAPI CountingLoadLibraryA(LPCSTR name) { return ++g_loadLibraryCalls, g_realLoadLibrary(name); }

std::vector<std::wstring> g_versionQueries;
decltype(&VerQueryValueW) g_realVerQueryValue = nullptr;
BOOL WINAPI RecordingVerQueryValueW(LPCVOID block, LPCWSTR query, LPVOID* value, PUINT length) {
    g_versionQueries.push_back(query);
    return g_realVerQueryValue(block, query, value, length);
}

// With Wine's own library, the bare name is kept, a second Load does nothing, and the wrappers
// read this machine: its adapters and a sorted interface table.
TEST(IpHelper, BindsWinesOwnCopyByItsBareName) {
    ASSERT_FALSE(IsModuleLoaded(kIpHelper)) << "something else in the process holds IP Helper";
    RecordingDebugLog log;
    ScopedDebugLog installed(log, &LsSetDebugOutput);
    std::string path;
    ASSERT_EQ(FindIpHelperPath(path), 0);
    EXPECT_EQ(path, kIpHelper);
    EXPECT_FALSE(IsModuleLoaded(kIpHelper)) << "the version check keeps what it loaded";

    const HandleCount handles;
    {
        CIpHelperAPI ipHelper;
        const ImportPatch counting(ThisExecutable(), "KERNEL32.dll", "LoadLibraryA", &CountingLoadLibraryA,
                                   &g_realLoadLibrary);
        EXPECT_EQ(ipHelper.Load(), 0);
        EXPECT_EQ(g_loadLibraryCalls, 0) << "a loaded binding searched again";
        ULONG size = 0;
        ASSERT_EQ(ipHelper.GetIfTable(nullptr, &size), ERROR_INSUFFICIENT_BUFFER);
        std::vector<BYTE> interfaces(size);
        const auto& table = *reinterpret_cast<const MIB_IFTABLE*>(interfaces.data());
        ASSERT_EQ(ipHelper.GetIfTable(reinterpret_cast<MIB_IFTABLE*>(interfaces.data()), &size), NO_ERROR);
        for (DWORD i = 1; i < table.dwNumEntries; ++i) EXPECT_LT(table.table[i - 1].dwIndex, table.table[i].dwIndex);
        EXPECT_EQ(ipHelper.Unload(), 0);
        EXPECT_FALSE(IsModuleLoaded(kIpHelper));
        ExpectUnbound(ipHelper);
    }
    EXPECT_EQ(handles.Added(), 0);
    EXPECT_TRUE(log.Lines().empty());
}

// Version resources of the doubles, each read from a copy under a name Wine has no library of.
TEST(FileVersion, IsComposedFromTheFixedBlockAndDecidesAcceptance) {
    const struct {
        const char* dir;
        int readResult;
        const char *version, *description;
        int checkResult;
    } cases[] = {
        {"iphlpapi_partial", 0, "5.1.2600.5512", "IP Helper double", 0},
        {"iphlpapi_refused", 0, "5.0.1952.1", "IP Helper double, refused build", -1},  // its string: 5.00.1952.1
        // no fixed block: accepted without a version; both strings only in the fallback table
        {"iphlpapi_unfixed", 0, "", "IP Helper double", 0},
        {"iphlpapi_no_file_version", -1, "", "IP Helper double", -1},  // the description is read all the same
        {"iphlpapi_unversioned", -1, "", "", -1}, {"nonexistent", -1, "", "", -1},
    };
    const ImportPatch recording(ThisExecutable(), "VERSION.dll", "VerQueryValueW", &RecordingVerQueryValueW,
                                &g_realVerQueryValue);
    const HandleCount handles;
    for (const auto& c : cases) {
        const std::string path = DoubleDir(c.dir) + "\\version_sample.dll";
        SCOPED_TRACE(path);
        FileVersionRecord record;
        EXPECT_EQ(ReadFileVersion(path.c_str(), record), c.readResult);
        EXPECT_STREQ(record.fileName.c_str(), c.readResult == 0 ? path.c_str() : "");
        EXPECT_STREQ(record.fileVersion.c_str(), c.version);
        EXPECT_STREQ(record.fileDescription.c_str(), c.description);
        EXPECT_EQ(CheckIpHelperVersion(path), c.checkResult);
        EXPECT_FALSE(IsModuleLoaded(path.c_str()));
    }
    EXPECT_EQ(handles.Added(), 0);
    // The fallback table is asked for by the name the files carry, upper case.
    EXPECT_NE(std::find(g_versionQueries.begin(), g_versionQueries.end(), L"\\StringFileInfo\\040904E4\\FileVersion"),
              g_versionQueries.end());
    EXPECT_STREQ(AppendDecimal(outputstr("build "), 0x12345).c_str(), "build 9029");  // low 16 bits only
}

// What a child finds with a double beside it, under a load order that prefers the file beside
// the program, as an application folder holding its own copy would have it on Windows.
struct ChildCase {
    const char* role;
    const char* dir;
    bool bindsTheDouble;  // else Wine's copy in the system directory, or none at all
    const char* line;     // the one line written, or null for none
};
const ChildCase kChildCases[] = {
    {"refused", "iphlpapi_refused", false, nullptr},
    {"partial", "iphlpapi_partial", true, "some function can't be loaded!"},
    {"all-refused", "iphlpapi_refused", false, "Can't load Iphlpapi.dll"},  // in the system directory too
};

TEST(IpHelper, TakesTheFirstAcceptableCopyOnTheSearchPath) {
    const std::string role = ChildArgument();
    if (role.empty()) {
        for (const ChildCase& c : kChildCases) {
            const std::string folder = DoubleDir(c.dir), inSystem = c.role == std::string("all-refused") ? folder + "\\" + kIpHelper : "";
            ExpectChildPasses({.folder = folder, .dllOverrides = {{"iphlpapi", "native,builtin"}}, .systemDouble = inSystem, .childArgument = c.role});
        }
        return;
    }
    const auto c = std::find_if(std::begin(kChildCases), std::end(kChildCases),
                                [&](const ChildCase& k) { return role == k.role; });
    ASSERT_NE(c, std::end(kChildCases)) << role;
    RecordingDebugLog log;
    ScopedDebugLog installed(log, &LsSetDebugOutput);
    const HandleCount handles;
    {
        CIpHelperAPI ipHelper;
        EXPECT_TRUE(c->line ? log.WroteOnly(c->line) : log.Lines().empty()) << log.Lines().size();
        EXPECT_EQ(IsModuleLoaded(kIpHelper), role != "all-refused");
        // The double's own export tells it apart from Wine's library.
        const auto lastOrder = ResolveEntryPoint<LastIfTableOrderFunction>(GetModuleHandleA(kIpHelper), "LastIfTableOrder");
        EXPECT_EQ(lastOrder != nullptr, c->bindsTheDouble);
        if (role == "all-refused") ExpectUnbound(ipHelper);
        if (c->bindsTheDouble) {
            // A missing entry point costs only its own wrapper: all three still reach the double.
            Machine machine;
            machine.ipHelper.adapters = {MakeAdapter("{D0B1}", MIB_IF_TYPE_ETHERNET, 7, "192.0.2.7")};
            machine.ipHelper.adapters[0].dns = {"192.0.2.53"};
            const MachineScope scope(machine);
            std::vector<BYTE> buffer(4096);
            ULONG sizes[] = {4096, 4096, 4096};
            EXPECT_EQ(ipHelper.GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &sizes[0]), NO_ERROR);
            EXPECT_STREQ(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data())->AdapterName, "{D0B1}");
            EXPECT_EQ(ipHelper.GetIfTable(reinterpret_cast<MIB_IFTABLE*>(buffer.data()), &sizes[1]), NO_ERROR);
            EXPECT_EQ(lastOrder(), TRUE);
            EXPECT_EQ(ipHelper.GetPerAdapterInfo(7, reinterpret_cast<IP_PER_ADAPTER_INFO*>(buffer.data()), &sizes[2]), NO_ERROR);
            EXPECT_STREQ(reinterpret_cast<IP_PER_ADAPTER_INFO*>(buffer.data())->DnsServerList.IpAddress.String, "192.0.2.53");
        }
    }
    EXPECT_FALSE(IsModuleLoaded(kIpHelper));
    EXPECT_EQ(handles.Added(), 0);
}

}  // namespace
