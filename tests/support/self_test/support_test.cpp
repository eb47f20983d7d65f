#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resource_counts.h"
#include "system/handles.h"
#include "windows_version.h"

namespace {

// In a child started as a given version, GetVersionEx answers that version.
TEST(WindowsVersionChild, AnswersTheVersionItWasStartedAs) {
    const std::string expected = ChildArgument();
    if (expected.empty()) GTEST_SKIP() << "runs only as a child";
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion), expected);
}

TEST(WindowsVersion, ChildrenRunAsTheVersionTheyAreGiven) {
    const std::pair<const char*, const char*> cases[] = {{"win98", "4.10"}, {"nt40", "4.0"}, {"winxp", "5.1"},
                                                       // without a manifest, GetVersionEx stops at 6.2
                                                       {"win10", "6.2"}};
    for (const auto& [version, numbers] : cases) {
        const ChildRun run = RunAsWindowsVersion(version, "WindowsVersionChild.*", numbers);
        EXPECT_EQ(run.exitCode, 0u) << version << ":\n" << run.output;
        EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
    }
}

TEST(TestDouble, CarriesItsVersionResource) {
    const std::string path = std::string("Z:") + PROBE_DOUBLE_DIR + "/probe.dll";
    UniqueModule probe(LoadLibraryA(path.c_str()));
    ASSERT_TRUE(probe);
    auto answer = ResolveEntryPoint<int (*)()>(probe.get(), "ProbeAnswer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (5u << 16) | 1u);
    EXPECT_EQ(fixed->dwFileVersionLS, (2600u << 16) | 5512u);
}

// Registry keys are counted as well as kernel objects, so a test sees a key left open.
TEST(ResourceCounts, SeeHandlesAndKeysOpenedAndClosed) {
    UniqueKey warmUp;  // the first use opens the predefined key for good
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, warmUp.put());
    warmUp.reset();

    const HandleCount count;
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    EXPECT_EQ(count.Added(), 2);
    event.reset();
    key.reset();
    EXPECT_EQ(count.Added(), 0);

    EXPECT_TRUE(IsModuleLoaded("kernel32.dll"));
    EXPECT_FALSE(IsModuleLoaded("probe.dll"));
}

}  // namespace
