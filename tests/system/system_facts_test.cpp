#include "system/system_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "child_process.h"
#include "named_process.h"

namespace {

constexpr DWORD kUntouched = 0xDEADBEEF;

OSVERSIONINFOA Version(DWORD platform, DWORD major, DWORD minor, DWORD build = 0) {
    return {sizeof(OSVERSIONINFOA), major, minor, build, platform, {}};
}

// The rows that no version Wine emulates reaches: an early 98 build, a 5.2 that is not AMD64, a
// failed extended query, a 6.x server beyond 6.1, an unknown platform.
TEST(ClassifyOS, DecidesByTheFirstMatchingRow) {
    constexpr WORD x86 = PROCESSOR_ARCHITECTURE_INTEL, amd64 = PROCESSOR_ARCHITECTURE_AMD64,
                   ia64 = PROCESSOR_ARCHITECTURE_IA64;
    const std::optional<BYTE> none, workstation = VER_NT_WORKSTATION, server = VER_NT_SERVER;
    const struct {
        OSVERSIONINFOA version;
        std::optional<BYTE> product;
        WORD architecture;
        OSType code;
        const char* name;
    } cases[] = {
        {Version(1, 4, 10, 0x040A08AD), none, x86, OS_TYPE_WINDOWS_98, "Windows 98"},
        {Version(1, 4, 10, 0x040A08AE), none, x86, OS_TYPE_WINDOWS_98_SE, "Windows 98 SE"},
        {Version(2, 5, 2), workstation, ia64, OS_TYPE_WINDOWS_SERVER_2003, "Windows Server 2003 family"},
        {Version(2, 5, 2), workstation, x86, OS_TYPE_WINDOWS_SERVER_2003, "Windows Server 2003 family"},
        {Version(2, 6, 1), none, amd64, OS_TYPE_WINDOWS_VISTA, "Windows Vista"},
        {Version(2, 6, 1), VER_NT_DOMAIN_CONTROLLER, amd64, OS_TYPE_WINDOWS_SERVER_2008_R2, "Windows Server 2008 R2"},
        {Version(2, 10, 0), server, amd64, OS_TYPE_WINDOWS_SERVER_2008, "Windows Server 2008"},
        {Version(0, 6, 1), workstation, amd64, OS_TYPE_UNKNOWN, ""},
    };
    for (const auto& c : cases) {
        const OSKind kind = ClassifyOS(c.version, c.product, c.architecture);
        EXPECT_EQ(kind.code, c.code) << c.name;
        EXPECT_STREQ(kind.name, c.name);
    }
    EXPECT_TRUE(IsProcessorArchitecture64(amd64) && IsProcessorArchitecture64(ia64));
    EXPECT_FALSE(IsProcessorArchitecture64(x86) || IsProcessorArchitecture64(PROCESSOR_ARCHITECTURE_ARM64) ||
                 IsProcessorArchitecture64(PROCESSOR_ARCHITECTURE_UNKNOWN));
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
}

TEST(SystemFacts, AnswerEveryEmulatedVersion) {
    for (const auto& answer : kAnswers) {
        const ChildRun run = RunAsWindowsVersion(answer.version, "SystemFactsChild.*", answer.version);
        EXPECT_TRUE(ChildPassed(run)) << answer.version << ":\n" << run.output;
    }
}

TEST(FindProcessByName, MatchesTheBaseNameOfARunningProcessWithoutCaseExceptOnNT4) {
    const NamedProcess probe("LinkSetProbe.EXE");
    DWORD id = kUntouched;
    EXPECT_TRUE(FindProcessByName("linksetprobe.exe", &id));
    EXPECT_EQ(id, probe.Id());

    id = kUntouched;
    for (const std::string& name : {probe.Path(), std::string("linksetprobe")})
        EXPECT_FALSE(FindProcessByName(name.c_str(), &id)) << name;
    EXPECT_FALSE(FindProcessByName(nullptr, &id));
    EXPECT_EQ(id, kUntouched);
    EXPECT_TRUE(IsExecutableNamed("C:\\Program Files\\Client\\VPNCLIENT.EXE", "vpnclient.exe"));
    EXPECT_FALSE(IsExecutableNamed("C:\\vpnclient.exe\\other.exe", "vpnclient.exe"));

    const ChildRun run = RunAsWindowsVersion("nt40", "FindProcessByNameChild.*", "LinkSetProbe.exe");
    EXPECT_TRUE(ChildPassed(run)) << run.output;
}

TEST(FindProcessByNameChild, FindsNothingOnNT4) {
    const std::string name = ChildArgument();
    if (name.empty()) GTEST_SKIP() << "runs only as a child";
    ASSERT_EQ(GetOSType(), OS_TYPE_WINDOWS_NT);
    DWORD id = kUntouched;
    EXPECT_FALSE(FindProcessByName(name.c_str(), &id));
    EXPECT_EQ(id, kUntouched);
}

constexpr std::size_t kNameSize = 32;
constexpr char kDoubleByte[] = "\x82\xA0";  // Shift-JIS HIRAGANA LETTER A: lead and trail byte

// The copy into 32 bytes of a larger buffer, and its answer; nothing may land behind them.
std::pair<std::string, std::size_t> CopyInto32(const std::string& source) {
    char buffer[kNameSize + 1];
    std::memset(buffer, '#', sizeof buffer);
    const std::size_t length = CopyStringBounded(buffer, source.c_str(), kNameSize);
    EXPECT_EQ(buffer[kNameSize], '#') << "wrote past the buffer";
    return {buffer, length};
}

// 30 single bytes, then a double-byte character whose second byte would be the 32nd.
const std::string kSplitAt32 = std::string(30, 'a') + kDoubleByte + "z";

TEST(CopyStringBounded, CopiesWhatFitsAndAnswersTheSourceLength) {
    EXPECT_EQ(CopyInto32(std::string(40, 'x')), std::make_pair(std::string(31, 'x'), std::size_t{40}));
    EXPECT_EQ(CopyInto32(std::string(31, 'y')), std::make_pair(std::string(31, 'y'), std::size_t{31}));
    EXPECT_EQ(CopyInto32(""), std::make_pair(std::string(), std::size_t{0}));
    char kept[] = "keep";
    EXPECT_EQ(CopyStringBounded(kept, nullptr, sizeof kept), 0u);
    EXPECT_STREQ(kept, "");
    EXPECT_EQ(CopyStringBounded(kept, "other", 0) + CopyStringBounded(nullptr, "other", kNameSize), 0u);
    EXPECT_EQ(kept[1], 'e');
    // In a single-byte code page, the lead byte is a character of its own.
    if (GetACP() != 932) {
        EXPECT_EQ(CopyInto32(kSplitAt32).first, std::string(30, 'a') + kDoubleByte[0]);
    }
}

// Only under Wine's Japanese locale, which a CTest entry of its own sets.
TEST(CopyStringBoundedJapanese, NeverSplitsADoubleByteCharacter) {
    char wanted[16] = {};
    GetEnvironmentVariableA("LINKSET_TEST_CODEPAGE", wanted, sizeof wanted);
    if (wanted[0] == '\0') GTEST_SKIP() << "runs only under the Japanese locale";
    ASSERT_EQ(std::to_string(GetACP()), wanted) << "Wine did not take the Japanese locale";

    EXPECT_EQ(CopyInto32(kSplitAt32), std::make_pair(std::string(30, 'a'), kSplitAt32.size()));
    const std::string fits = std::string(29, 'a') + kDoubleByte;
    EXPECT_EQ(CopyInto32(fits).first, fits);
    std::string forty;
    while (forty.size() < 40) forty += kDoubleByte;
    EXPECT_EQ(CopyInto32(forty), std::make_pair(forty.substr(0, 30), std::size_t{40}));
}

}  // namespace
