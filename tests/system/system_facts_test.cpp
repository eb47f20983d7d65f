#include "system/system_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "child_process.h"
#include "named_process.h"

namespace {

constexpr DWORD kUntouched = 0xDEADBEEF;
constexpr const char* kProbeName = "LinkSetProbe.EXE";

// The rows that no version Wine emulates reaches: an early 98 build, a 5.2 that is not AMD64, a
// failed extended query, 6.x products Wine never answers, an unknown platform.
TEST(ClassifyOS, DecidesByTheFirstMatchingRow) {
    constexpr WORD amd64 = PROCESSOR_ARCHITECTURE_AMD64, ia64 = PROCESSOR_ARCHITECTURE_IA64;
    const std::optional<BYTE> none, workstation = VER_NT_WORKSTATION, server = VER_NT_SERVER;
    const struct {
        DWORD platform, major, minor, build;
        std::optional<BYTE> product;
        WORD architecture;
        OSType code;
        const char* name;
    } cases[] = {
        {1, 4, 10, 0x040A08AD, none, amd64, OS_TYPE_WINDOWS_98, "Windows 98"},
        {2, 5, 2, 0, workstation, ia64, OS_TYPE_WINDOWS_SERVER_2003, "Windows Server 2003 family"},
        {2, 6, 1, 0, none, amd64, OS_TYPE_WINDOWS_VISTA, "Windows Vista"},
        {2, 6, 1, 0, VER_NT_DOMAIN_CONTROLLER, amd64, OS_TYPE_WINDOWS_SERVER_2008_R2, "Windows Server 2008 R2"},
        {2, 10, 0, 0, server, amd64, OS_TYPE_WINDOWS_SERVER_2008, "Windows Server 2008"},
        {0, 6, 1, 0, workstation, amd64, OS_TYPE_UNKNOWN, ""},
    };
    for (const auto& c : cases) {
        const OSVERSIONINFOA version = {sizeof version, c.major, c.minor, c.build, c.platform, {}};
        const OSKind kind = ClassifyOS(version, c.product, c.architecture);
        EXPECT_EQ(kind.code, c.code) << c.name;
        EXPECT_STREQ(kind.name, c.name);
    }
    EXPECT_TRUE(IsProcessorArchitecture64(amd64) && IsProcessorArchitecture64(ia64));
    EXPECT_FALSE(IsProcessorArchitecture64(PROCESSOR_ARCHITECTURE_INTEL) ||
                 IsProcessorArchitecture64(PROCESSOR_ARCHITECTURE_ARM64));
}

// What each emulated version answers. The machine is AMD64, so Server 2003 reads as XP x64;
// Wine 8 answers win7 with a server's product type and win2008r2 with a workstation's; and
// without a manifest, win8 and win10 report 6.2, which is a Vista.
constexpr struct {
    const char* version;
    OSType code;
    const char* name;
} kAnswers[] = {
    {"win95", OS_TYPE_WINDOWS_95, "Windows 95"},
    {"win98", OS_TYPE_WINDOWS_98_SE, "Windows 98 SE"},
    {"winme", OS_TYPE_WINDOWS_ME, "Windows Millennium"},
    {"nt40", OS_TYPE_WINDOWS_NT, "Windows NT"},
    {"win2k", OS_TYPE_WINDOWS_2000, "Windows 2000"},
    {"winxp", OS_TYPE_WINDOWS_XP, "Windows XP"},
    {"winxp64", OS_TYPE_WINDOWS_XP, "Windows XP Professional x64"},
    {"win2003", OS_TYPE_WINDOWS_XP, "Windows XP Professional x64"},
    {"vista", OS_TYPE_WINDOWS_VISTA, "Windows Vista"},
    {"win2008", OS_TYPE_WINDOWS_SERVER_2008, "Windows Server 2008"},
    {"win7", OS_TYPE_WINDOWS_SERVER_2008_R2, "Windows Server 2008 R2"},
    {"win2008r2", OS_TYPE_WINDOWS_7, "Windows 7"},
    {"win8", OS_TYPE_WINDOWS_VISTA, "Windows Vista"},
    {"win10", OS_TYPE_WINDOWS_VISTA, "Windows Vista"},
};

TEST(SystemFactsChild, AnswerTheEmulatedVersion) {
    const std::string version = ChildArgument();
    if (version.empty()) GTEST_SKIP() << "runs only as a child";
    const auto* answer = std::find_if(std::begin(kAnswers), std::end(kAnswers),
                                      [&](const auto& a) { return version == a.version; });
    ASSERT_NE(answer, std::end(kAnswers)) << version;
    OSTypeName name;
    name.fill('?');
    EXPECT_EQ(GetOSType(&name), answer->code);
    EXPECT_STREQ(name.data(), answer->name);
    EXPECT_EQ(IsWindows2000(), answer->code == OS_TYPE_WINDOWS_2000);
    EXPECT_EQ(IsWindowsNT(), answer->code >= OS_TYPE_WINDOWS_NT);
    EXPECT_EQ(IsWindows2000OrLater(), answer->code >= OS_TYPE_WINDOWS_2000);
    EXPECT_EQ(IsVistaOrLater(), answer->code >= OS_TYPE_WINDOWS_VISTA);
    EXPECT_TRUE(Is64BitSystem());
    // The parent's probe is found everywhere but on NT 4, whose process list is never read.
    DWORD id = kUntouched;
    const bool findable = answer->code != OS_TYPE_WINDOWS_NT;
    EXPECT_EQ(FindProcessByName("linksetprobe.exe", &id), findable);
    EXPECT_EQ(id != kUntouched, findable);
}

TEST(SystemFacts, AnswerEveryEmulatedVersion) {
    const NamedProcess probe(kProbeName);
    for (const auto& answer : kAnswers) {
        const ChildRun run = RunAsWindowsVersion(answer.version, "SystemFactsChild.*", answer.version);
        EXPECT_TRUE(ChildPassed(run)) << answer.version << ":\n" << run.output;
    }
}

TEST(FindProcessByName, MatchesOnlyTheBaseNameOfARunningProcessWithoutCase) {
    const NamedProcess probe(kProbeName);
    DWORD id = kUntouched;
    EXPECT_TRUE(FindProcessByName("linksetprobe.exe", &id));
    EXPECT_EQ(id, probe.Id());

    id = kUntouched;
    for (const char* name : {probe.Path().c_str(), "linksetprobe", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(FindProcessByName(name, &id)) << (name ? name : "null");
    EXPECT_EQ(id, kUntouched);
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
    std::string forty;
    while (forty.size() < 40) forty += kDoubleByte;
    const struct {
        std::string source, inSingleByte, inDoubleByte;
    } cases[] = {
        {std::string(40, 'x'), std::string(31, 'x'), std::string(31, 'x')},
        {std::string(31, 'y'), std::string(31, 'y'), std::string(31, 'y')},
        {"", "", ""},
        {thirty + kDoubleByte + "z", thirty + lead, thirty},  // the trail byte would be the 32nd
        {thirty.substr(1) + kDoubleByte, thirty.substr(1) + kDoubleByte, thirty.substr(1) + kDoubleByte},
        {forty, forty.substr(0, 31), forty.substr(0, 30)},
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
    EXPECT_EQ(CopyStringBounded(kept, "other", 0) + CopyStringBounded(nullptr, "other", kNameSize), 0u);
    EXPECT_EQ(kept[1], 'e');
}

}  // namespace
