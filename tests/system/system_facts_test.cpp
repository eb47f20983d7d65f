#include "system/system_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "child_process.h"
#include "named_process.h"

namespace {

constexpr DWORD kUntouched = 0xDEADBEEF;

// What each emulated version answers. Wine 8 answers win7 with a server's product type, and
// without a manifest win10 reports 6.2, which is a Vista.
constexpr struct { const char* version; OSType code; } kAnswers[] = {
    {"win95", OS_TYPE_WINDOWS_95}, {"nt40", OS_TYPE_WINDOWS_NT},      {"win2k", OS_TYPE_WINDOWS_2000},
    {"winxp", OS_TYPE_WINDOWS_XP}, {"vista", OS_TYPE_WINDOWS_VISTA}, {"win7", OS_TYPE_WINDOWS_SERVER_2008_R2},
    {"win10", OS_TYPE_WINDOWS_VISTA},
};

// Each version in a child while the parent's probe runs; NT 4's process list is never read.
TEST(SystemFacts, AnswerEveryEmulatedVersionAndFindProcessesByBaseNameWithoutCase) {
    DWORD id = kUntouched;
    if (const std::string version = ChildArgument(); !version.empty()) {
        const auto* answer = std::find_if(std::begin(kAnswers), std::end(kAnswers),
                                          [&](const auto& a) { return version == a.version; });
        ASSERT_NE(answer, std::end(kAnswers)) << version;
        EXPECT_EQ(GetOSType(), answer->code);
        EXPECT_EQ(IsWindows2000(), answer->code == OS_TYPE_WINDOWS_2000);
        EXPECT_EQ(IsWindowsNT(), answer->code >= OS_TYPE_WINDOWS_NT);
        EXPECT_EQ(IsWindows2000OrLater(), answer->code >= OS_TYPE_WINDOWS_2000);
        EXPECT_EQ(IsVistaOrLater(), answer->code >= OS_TYPE_WINDOWS_VISTA);
        EXPECT_EQ(FindProcessByName("linksetprobe.exe", &id), answer->code != OS_TYPE_WINDOWS_NT);
        return;
    }
    const NamedProcess probe("LinkSetProbe.EXE");
    for (const auto& answer : kAnswers) ExpectChildPasses({.windowsVersion = answer.version, .childArgument = answer.version});
    for (const char* name : {probe.Path().c_str(), "linksetprobe", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(FindProcessByName(name, &id)) << (name ? name : "null");
    EXPECT_EQ(id, kUntouched);
    EXPECT_TRUE(FindProcessByName("linksetprobe.exe", &id));
    EXPECT_EQ(id, probe.Id());
    // Older systems list full paths: only the part behind the last backslash counts.
    EXPECT_TRUE(IsExecutableNamed("C:\\Program Files\\Client\\VPNCLIENT.EXE", "vpnclient.exe"));
    EXPECT_FALSE(IsExecutableNamed("C:\\vpnclient.exe\\other.exe", "vpnclient.exe"));
}

constexpr std::size_t kNameSize = 32;
constexpr UINT kJapaneseCodePage = 932;
constexpr char kDoubleByte[] = "\x82\xA0";  // Shift-JIS HIRAGANA LETTER A: lead and trail byte

// Runs in the locale's code page, and again under Japanese through a CTest entry of its own that
// names the code page it must get.
TEST(CopyStringBounded, CopiesWhatFitsWithoutSplittingACharacterAndAnswersTheSourceLength) {
    char wanted[16] = {};
    if (GetEnvironmentVariableA("LINKSET_TEST_CODEPAGE", wanted, sizeof wanted) != 0) {
        ASSERT_EQ(std::to_string(GetACP()), wanted) << "Wine did not take the locale";
    }
    const bool doubleByte = GetACP() == kJapaneseCodePage;
    const std::string thirty(30, 'a'), lead(1, kDoubleByte[0]);
    const struct { std::string source, inSingleByte, inDoubleByte; } cases[] = {
        {std::string(40, 'x'), std::string(31, 'x'), std::string(31, 'x')},
        {thirty + kDoubleByte + "z", thirty + lead, thirty},  // the trail byte would be the 32nd
        {thirty.substr(1) + kDoubleByte, thirty.substr(1) + kDoubleByte, thirty.substr(1) + kDoubleByte},
    };
    for (const auto& c : cases) {
        char buffer[kNameSize + 1];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(CopyStringBounded(buffer, c.source.c_str(), kNameSize), c.source.size());
        EXPECT_EQ(std::string(buffer, strnlen(buffer, sizeof buffer)), doubleByte ? c.inDoubleByte : c.inSingleByte);
        EXPECT_EQ(buffer[kNameSize], '#') << "wrote past the buffer";
    }
    char kept[] = "keep";
    EXPECT_EQ(CopyStringBounded(kept, nullptr, sizeof kept), 0u);
    EXPECT_STREQ(kept, "");
}

}  // namespace
