#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "import_patch.h"
#include "ip_helper_double.h"
#include "recording_log.h"
#include "resource_counts.h"
#include "sources/adapter_registry.h"
#include "sources/ip_helper.h"
#include "system_double.h"

namespace {

constexpr char kIpHelper[] = "iphlpapi.dll";

std::string SystemCopy() { return SystemDirectory() + "\\" + kIpHelper; }

// IP Helper's two-step read: ask for the size, then read into a buffer of that size.
template <class Read>
std::vector<BYTE> ReadTwoStep(Read read, int sizeAnswer) {
    ULONG size = 0;
    if (read(nullptr, &size) != sizeAnswer || size == 0) return {};
    std::vector<BYTE> buffer(size);
    return read(buffer.data(), &size) == NO_ERROR ? buffer : std::vector<BYTE>();
}

void ExpectUnbound(const CIpHelperAPI& ipHelper) {
    ULONG size = 0;
    EXPECT_EQ(ipHelper.GetAdaptersInfo(nullptr, &size), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(ipHelper.GetIfTable(nullptr, &size), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(ipHelper.GetPerAdapterInfo(1, nullptr, &size), ERROR_NOT_SUPPORTED);
}

// With Wine's own library, the bare name is kept and the wrappers read this machine: every
// adapter IP Helper reports is one of the network cards Wine registers for it.
TEST(IpHelper, BindsWinesOwnCopyByItsBareNameAndReadsThisMachine) {
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
        EXPECT_TRUE(IsModuleLoaded(SystemCopy().c_str()));

        const std::vector<BYTE> adapters = ReadTwoStep(
            [&](BYTE* buffer, ULONG* size) { return ipHelper.GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer), size); },
            ERROR_BUFFER_OVERFLOW);
        ASSERT_FALSE(adapters.empty()) << "this machine has no adapter besides loopback";
        ADAPTER_REG_ENTRY cards[kAdapterTableEntries];
        const int cardCount = ReadAdapterTable(cards, sizeof cards);
        for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(adapters.data()); adapter; adapter = adapter->Next) {
            const bool registered = std::any_of(cards, cards + std::max(cardCount, 0), [&](const ADAPTER_REG_ENTRY& card) {
                return std::string(card.GuidText) == adapter->AdapterName;
            });
            EXPECT_TRUE(registered) << adapter->AdapterName;
            ULONG size = 0;
            EXPECT_EQ(ipHelper.GetPerAdapterInfo(adapter->Index, nullptr, &size), ERROR_BUFFER_OVERFLOW);
        }

        const std::vector<BYTE> interfaces = ReadTwoStep(
            [&](BYTE* buffer, ULONG* size) { return ipHelper.GetIfTable(reinterpret_cast<MIB_IFTABLE*>(buffer), size); },
            ERROR_INSUFFICIENT_BUFFER);
        ASSERT_FALSE(interfaces.empty());
        const auto& table = *reinterpret_cast<const MIB_IFTABLE*>(interfaces.data());
        ASSERT_GT(table.dwNumEntries, 0u);
        for (DWORD i = 1; i < table.dwNumEntries; ++i) EXPECT_LT(table.table[i - 1].dwIndex, table.table[i].dwIndex);

        EXPECT_EQ(ipHelper.Unload(), 0);
        EXPECT_FALSE(IsModuleLoaded(kIpHelper));
        ExpectUnbound(ipHelper);
    }
    EXPECT_EQ(handles.Added(), 0);
    EXPECT_TRUE(log.Lines().empty());
}

int g_loadLibraryCalls = 0;
int g_getProcAddressCalls = 0;
ImportPatch* g_loadLibraryPatch = nullptr;
ImportPatch* g_getProcAddressPatch = nullptr;

HMODULE WINAPI CountingLoadLibraryA(LPCSTR name) {
    ++g_loadLibraryCalls;
    return g_loadLibraryPatch->Original<decltype(&LoadLibraryA)>()(name);
}
FARPROC WINAPI CountingGetProcAddress(HMODULE module, LPCSTR name) {
    ++g_getProcAddressCalls;
    return g_getProcAddressPatch->Original<decltype(&GetProcAddress)>()(module, name);
}

TEST(IpHelper, LoadOnALoadedBindingNeitherSearchesNorResolves) {
    ImportPatch loadLibrary(ThisExecutable(), "KERNEL32.dll", "LoadLibraryA", reinterpret_cast<const void*>(&CountingLoadLibraryA));
    ImportPatch getProcAddress(ThisExecutable(), "KERNEL32.dll", "GetProcAddress",
                               reinterpret_cast<const void*>(&CountingGetProcAddress));
    g_loadLibraryPatch = &loadLibrary;
    g_getProcAddressPatch = &getProcAddress;
    g_loadLibraryCalls = g_getProcAddressCalls = 0;

    CIpHelperAPI ipHelper;
    EXPECT_EQ(g_loadLibraryCalls, 2);  // the version check's load, then the binding's own
    EXPECT_EQ(g_getProcAddressCalls, 9);
    g_loadLibraryCalls = g_getProcAddressCalls = 0;
    EXPECT_EQ(ipHelper.Load(), 0);
    EXPECT_EQ(g_loadLibraryCalls, 0);
    EXPECT_EQ(g_getProcAddressCalls, 0);
}

// Version resources of the doubles, each read from a copy under a name Wine has no library of.
TEST(FileVersion, IsComposedFromTheFixedBlockAndDecidesAcceptance) {
    struct Case {
        const char* dir;
        int readResult;
        const char* version;
        const char* description;
        int checkResult;
    };
    const Case cases[] = {
        {IP_HELPER_PARTIAL_DIR, 0, "5.1.2600.5512", "IP Helper double", 0},
        // the build's own string says 5.00.1952.1
        {IP_HELPER_REFUSED_DIR, 0, "5.0.1952.1", "IP Helper double, refused build", -1},
        // no fixed block: accepted without a version; both strings only in the fallback table
        {IP_HELPER_UNFIXED_DIR, 0, "", "IP Helper double", 0},
        {IP_HELPER_NO_FILE_VERSION_DIR, -1, nullptr, nullptr, -1},
        {IP_HELPER_UNVERSIONED_DIR, -1, nullptr, nullptr, -1},
        {"/nonexistent", -1, nullptr, nullptr, -1},
    };
    const HandleCount handles;
    for (const Case& c : cases) {
        const std::string path = WinePath(c.dir) + "\\version_sample.dll";
        FileVersionRecord record;
        EXPECT_EQ(ReadFileVersion(path.c_str(), record), c.readResult) << path;
        if (c.readResult == 0) {
            EXPECT_STREQ(record.fileName.c_str(), path.c_str());
            EXPECT_STREQ(record.fileVersion.c_str(), c.version) << path;
            EXPECT_STREQ(record.fileDescription.c_str(), c.description) << path;
        }
        EXPECT_EQ(CheckIpHelperVersion(path), c.checkResult) << path;
        EXPECT_FALSE(IsModuleLoaded(path.c_str())) << path;
    }
    EXPECT_EQ(handles.Added(), 0);

    EXPECT_STREQ(AppendDecimal(outputstr("build "), 0x12345).c_str(), "build 9029");  // low 16 bits only
    EXPECT_STREQ(AppendDecimal(outputstr(), 0).c_str(), "0");
}

// A child beside a double, with IP Helper's load order set to prefer that file, as an
// application folder holding its own copy would have it on Windows.
TEST(IpHelper, TakesTheFirstAcceptableCopyOnTheSearchPath) {
    struct Case {
        const char* dir;
        const char* tag;
        const char* filter;
        const char* role;
    };
    const Case cases[] = {
        {IP_HELPER_REFUSED_DIR, "refused", "IpHelperChild.TakesTheSystemCopy", "system-copy"},
        {IP_HELPER_UNVERSIONED_DIR, "unversioned", "IpHelperChild.TakesTheSystemCopy", "system-copy"},
        {IP_HELPER_NO_FILE_VERSION_DIR, "no-file-version", "IpHelperChild.TakesTheSystemCopy", "system-copy"},
        {IP_HELPER_PARTIAL_DIR, "partial", "IpHelperChild.UsesTheDoubleBesideIt", "partial"},
        {IP_HELPER_UNFIXED_DIR, "unfixed", "IpHelperChild.UsesTheDoubleBesideIt", "unfixed"},
        {IP_HELPER_REFUSED_DIR, "all-refused", "IpHelperChild.StaysUnboundWhenEveryCopyIsRefused", "all-refused"},
    };
    for (const Case& c : cases) {
        ChildOptions options;
        options.tag = c.tag;
        options.folder = WinePath(c.dir);
        options.dllOverrides = {{"iphlpapi", "native,builtin"}};
        options.childArgument = c.role;
        const ChildRun run = RunChild(c.filter, options);
        EXPECT_TRUE(ChildPassed(run)) << c.tag << ":\n" << run.output;
    }
}

// The double's own export tells it apart from Wine's library.
DoubleLastIfTableOrderFunction DoubleInProcess() {
    return ResolveEntryPoint<DoubleLastIfTableOrderFunction>(GetModuleHandleA(kIpHelper), "DoubleLastIfTableOrder");
}

TEST(IpHelperChild, TakesTheSystemCopy) {
    if (ChildArgument() != "system-copy") GTEST_SKIP() << "runs only as a child";
    ASSERT_FALSE(IsModuleLoaded(kIpHelper));
    RecordingDebugLog log;
    ScopedDebugLog installed(log, &LsSetDebugOutput);
    std::string path;
    ASSERT_EQ(FindIpHelperPath(path), 0);
    EXPECT_EQ(path, SystemCopy());
    {
        CIpHelperAPI ipHelper;
        EXPECT_TRUE(IsModuleLoaded(kIpHelper));
        EXPECT_EQ(DoubleInProcess(), nullptr) << "the refused double is in use";
        ULONG size = 0;
        EXPECT_EQ(ipHelper.GetIfTable(nullptr, &size), ERROR_INSUFFICIENT_BUFFER);
    }
    EXPECT_FALSE(IsModuleLoaded(kIpHelper));
    EXPECT_TRUE(log.Lines().empty());
}

TEST(IpHelperChild, UsesTheDoubleBesideIt) {
    const std::string role = ChildArgument();
    if (role != "partial" && role != "unfixed") GTEST_SKIP() << "runs only as a child";
    RecordingDebugLog log;
    ScopedDebugLog installed(log, &LsSetDebugOutput);
    std::string path;
    ASSERT_EQ(FindIpHelperPath(path), 0);
    EXPECT_EQ(path, kIpHelper);
    const HandleCount handles;
    {
        CIpHelperAPI ipHelper;
        const auto lastIfTableOrder = DoubleInProcess();
        ASSERT_NE(lastIfTableOrder, nullptr) << "Wine's own library was loaded";
        if (role == "partial")
            EXPECT_TRUE(log.WroteOnly("some function can't be loaded!"));
        else
            EXPECT_TRUE(log.Lines().empty());

        // A missing entry point costs only its own wrapper: all three still reach the double.
        IP_ADAPTER_INFO adapter;
        ULONG size = 0;
        EXPECT_EQ(ipHelper.GetAdaptersInfo(nullptr, &size), ERROR_BUFFER_OVERFLOW);
        EXPECT_EQ(size, sizeof adapter);
        ASSERT_EQ(ipHelper.GetAdaptersInfo(&adapter, &size), NO_ERROR);
        EXPECT_STREQ(adapter.AdapterName, kDoubleAdapterName);

        MIB_IFTABLE table;
        size = sizeof table;
        ASSERT_EQ(ipHelper.GetIfTable(&table, &size), NO_ERROR);
        EXPECT_EQ(lastIfTableOrder(), TRUE);

        IP_PER_ADAPTER_INFO perAdapter;
        size = sizeof perAdapter;
        ASSERT_EQ(ipHelper.GetPerAdapterInfo(kDoubleAdapterIndex, &perAdapter, &size), NO_ERROR);
        EXPECT_STREQ(perAdapter.DnsServerList.IpAddress.String, kDoubleDnsServer);
    }
    EXPECT_FALSE(IsModuleLoaded(kIpHelper));
    EXPECT_EQ(handles.Added(), 0);
}

// The system directory as this folder, whose copy is the refused build too.
UINT WINAPI FolderAsSystemDirectory(LPSTR buffer, UINT size) {
    const std::string folder = ThisExecutableFolder();
    if (folder.size() >= size) return static_cast<UINT>(folder.size() + 1);
    folder.copy(buffer, folder.size());
    buffer[folder.size()] = '\0';
    return static_cast<UINT>(folder.size());
}

TEST(IpHelperChild, StaysUnboundWhenEveryCopyIsRefused) {
    if (ChildArgument() != "all-refused") GTEST_SKIP() << "runs only as a child";
    ImportPatch systemDirectory(ThisExecutable(), "KERNEL32.dll", "GetSystemDirectoryA",
                                reinterpret_cast<const void*>(&FolderAsSystemDirectory));
    RecordingDebugLog log;
    ScopedDebugLog installed(log, &LsSetDebugOutput);
    const HandleCount handles;
    {
        CIpHelperAPI ipHelper;
        EXPECT_TRUE(log.WroteOnly("Can't load Iphlpapi.dll"));
        EXPECT_FALSE(IsModuleLoaded(kIpHelper));
        ExpectUnbound(ipHelper);
        EXPECT_EQ(ipHelper.Load(), -1) << "an unbound binding searches again";
    }
    EXPECT_EQ(handles.Added(), 0);
}

}  // namespace
