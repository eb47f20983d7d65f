#include "system/system_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "system/handles.h"
#include "windows_version.h"

namespace {

constexpr WORD kArchitectureX86 = PROCESSOR_ARCHITECTURE_INTEL;
constexpr WORD kArchitectureAmd64 = PROCESSOR_ARCHITECTURE_AMD64;
constexpr WORD kArchitectureIA64 = PROCESSOR_ARCHITECTURE_IA64;
constexpr BYTE kWorkstation = VER_NT_WORKSTATION;
constexpr BYTE kDomainController = VER_NT_DOMAIN_CONTROLLER;
constexpr BYTE kServer = VER_NT_SERVER;

OSVERSIONINFOA Version(DWORD platform, DWORD major, DWORD minor, DWORD build = 0) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwPlatformId = platform;
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.dwBuildNumber = build;
    return version;
}

// The rows that no version Wine emulates reaches, and the borders between rows.
TEST(ClassifyOS, DecidesByTheFirstMatchingRow) {
    const struct {
        OSVERSIONINFOA version;
        std::optional<BYTE> productType;
        WORD architecture;
        OSType code;
        const char* name;
    } cases[] = {
        {Version(1, 3, 95), std::nullopt, kArchitectureX86, OS_TYPE_WINDOWS_95, "Windows 95"},
        {Version(1, 4, 10, 0x040A08AD), std::nullopt, kArchitectureX86, OS_TYPE_WINDOWS_98, "Windows 98"},
        {Version(1, 4, 10, 0x040A08AE), std::nullopt, kArchitectureX86, OS_TYPE_WINDOWS_98_SE, "Windows 98 SE"},
        {Version(1, 4, 89, 0x040A08AD), std::nullopt, kArchitectureX86, OS_TYPE_WINDOWS_98, "Windows 98"},
        {Version(1, 4, 90), std::nullopt, kArchitectureX86, OS_TYPE_WINDOWS_ME, "Windows Millennium"},
        {Version(2, 3, 51), kWorkstation, kArchitectureX86, OS_TYPE_WINDOWS_NT, "Windows NT"},
        {Version(2, 5, 2), kServer, kArchitectureAmd64, OS_TYPE_WINDOWS_XP, "Windows XP Professional x64"},
        {Version(2, 5, 2), kWorkstation, kArchitectureIA64, OS_TYPE_WINDOWS_SERVER_2003, "Windows Server 2003 family"},
        {Version(2, 5, 2), kWorkstation, kArchitectureX86, OS_TYPE_WINDOWS_SERVER_2003, "Windows Server 2003 family"},
        {Version(2, 6, 0), std::nullopt, kArchitectureAmd64, OS_TYPE_WINDOWS_VISTA, "Windows Vista"},
        {Version(2, 6, 1), std::nullopt, kArchitectureAmd64, OS_TYPE_WINDOWS_VISTA, "Windows Vista"},
        {Version(2, 6, 1), kWorkstation, kArchitectureAmd64, OS_TYPE_WINDOWS_7, "Windows 7"},
        {Version(2, 6, 1), kDomainController, kArchitectureAmd64, OS_TYPE_WINDOWS_SERVER_2008_R2,
         "Windows Server 2008 R2"},
        {Version(2, 6, 2), kWorkstation, kArchitectureAmd64, OS_TYPE_WINDOWS_VISTA, "Windows Vista"},
        {Version(2, 10, 0), kServer, kArchitectureAmd64, OS_TYPE_WINDOWS_SERVER_2008, "Windows Server 2008"},
        {Version(0, 6, 1), kWorkstation, kArchitectureAmd64, OS_TYPE_UNKNOWN, ""},
        {Version(3, 5, 0), kWorkstation, kArchitectureAmd64, OS_TYPE_UNKNOWN, ""},
    };
    for (const auto& c : cases) {
        const OSKind kind = ClassifyOS(c.version, c.productType, c.architecture);
        EXPECT_EQ(kind.code, c.code) << c.name;
        EXPECT_STREQ(kind.name, c.name);
    }
}

TEST(IsProcessorArchitecture64, OnlyAmd64AndIA64) {
    EXPECT_TRUE(IsProcessorArchitecture64(kArchitectureAmd64));
    EXPECT_TRUE(IsProcessorArchitecture64(kArchitectureIA64));
    EXPECT_FALSE(IsProcessorArchitecture64(kArchitectureX86));
    EXPECT_FALSE(IsProcessorArchitecture64(PROCESSOR_ARCHITECTURE_ARM64));
    EXPECT_FALSE(IsProcessorArchitecture64(PROCESSOR_ARCHITECTURE_UNKNOWN));
}

// What each emulated version answers. The machine is AMD64, so Server 2003 reads as XP x64;
// Wine 8 reports win7 as a server and win2008r2 as a workstation; and without a manifest,
// win8 and win10 report 6.2, which is a Vista.
struct VersionFacts {
    const char* version;
    OSType code;
    const char* name;
    bool nt, windows2000OrLater, vistaOrLater;
};
constexpr VersionFacts kVersionFacts[] = {
    {"win95", OS_TYPE_WINDOWS_95, "Windows 95", false, false, false},
    {"win98", OS_TYPE_WINDOWS_98_SE, "Windows 98 SE", false, false, false},
    {"winme", OS_TYPE_WINDOWS_ME, "Windows Millennium", false, false, false},
    {"nt40", OS_TYPE_WINDOWS_NT, "Windows NT", true, false, false},
    {"win2k", OS_TYPE_WINDOWS_2000, "Windows 2000", true, true, false},
    {"winxp", OS_TYPE_WINDOWS_XP, "Windows XP", true, true, false},
    {"winxp64", OS_TYPE_WINDOWS_XP, "Windows XP Professional x64", true, true, false},
    {"win2003", OS_TYPE_WINDOWS_XP, "Windows XP Professional x64", true, true, false},
    {"vista", OS_TYPE_WINDOWS_VISTA, "Windows Vista", true, true, true},
    {"win2008", OS_TYPE_WINDOWS_SERVER_2008, "Windows Server 2008", true, true, true},
    {"win7", OS_TYPE_WINDOWS_SERVER_2008_R2, "Windows Server 2008 R2", true, true, true},
    {"win2008r2", OS_TYPE_WINDOWS_7, "Windows 7", true, true, true},
    {"win8", OS_TYPE_WINDOWS_VISTA, "Windows Vista", true, true, true},
    {"win10", OS_TYPE_WINDOWS_VISTA, "Windows Vista", true, true, true},
};
static_assert(std::size(kVersionFacts) == std::size(kWineWindowsVersions));

TEST(SystemFactsChild, AnswerTheEmulatedVersion) {
    const std::string version = ChildArgument();
    if (version.empty()) GTEST_SKIP() << "runs only as a child";
    const auto* facts = std::find_if(std::begin(kVersionFacts), std::end(kVersionFacts),
                                     [&](const VersionFacts& f) { return version == f.version; });
    ASSERT_NE(facts, std::end(kVersionFacts)) << version;

    OSTypeName name;
    name.fill('?');
    EXPECT_EQ(GetOSType(&name), facts->code);
    EXPECT_STREQ(name.data(), facts->name);
    EXPECT_EQ(GetOSType(), facts->code);
    EXPECT_EQ(IsWindows2000(), facts->code == OS_TYPE_WINDOWS_2000);
    EXPECT_EQ(IsWindowsNT(), facts->nt);
    EXPECT_EQ(IsWindows2000OrLater(), facts->windows2000OrLater);
    EXPECT_EQ(IsVistaOrLater(), facts->vistaOrLater);
    EXPECT_TRUE(Is64BitSystem());
}

TEST(SystemFacts, AnswerEveryEmulatedVersion) {
    for (const char* version : kWineWindowsVersions) {
        const ChildRun run = RunAsWindowsVersion(version, "SystemFactsChild.*", version);
        EXPECT_EQ(run.exitCode, 0u) << version << ":\n" << run.output;
        EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << version << ":\n" << run.output;
    }
}

// --- running processes --------------------------------------------------------------------

std::string TestBinaryFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The probe executable copied under `name` and started; killed and closed however the test ends.
class ProbeProcess {
public:
    explicit ProbeProcess(const std::string& name) {
        const std::string folder = TestBinaryFolder();
        const std::string copy = folder + name;
        if (!CopyFileA((folder + "probe_process.exe").c_str(), copy.c_str(), FALSE)) return;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(copy.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return;
        m_process.reset(process.hProcess);
        m_thread.reset(process.hThread);
        m_id = process.dwProcessId;
        WaitForInputIdle(m_process.get(), kStartWaitMs);
    }
    ~ProbeProcess() {
        if (!m_process) return;
        TerminateProcess(m_process.get(), 0);
        WaitForSingleObject(m_process.get(), kStartWaitMs);
    }
    ProbeProcess(const ProbeProcess&) = delete;
    ProbeProcess& operator=(const ProbeProcess&) = delete;

    bool Running() const { return static_cast<bool>(m_process); }
    DWORD Id() const { return m_id; }

private:
    static constexpr DWORD kStartWaitMs = 5000;
    UniqueHandle m_process, m_thread;
    DWORD m_id = 0;
};

constexpr DWORD kUntouched = 0xDEADBEEF;

TEST(FindProcessByName, MatchesTheBaseNameOfARunningProcessWithoutCase) {
    ProbeProcess probe("LinkSetProbe.EXE");
    ASSERT_TRUE(probe.Running());

    DWORD id = kUntouched;
    EXPECT_TRUE(FindProcessByName("linksetprobe.exe", &id));
    EXPECT_EQ(id, probe.Id());

    id = kUntouched;
    const std::string path = TestBinaryFolder() + "LinkSetProbe.EXE";
    EXPECT_FALSE(FindProcessByName(path.c_str(), &id));
    EXPECT_FALSE(FindProcessByName("\\linksetprobe.exe", &id));
    EXPECT_FALSE(FindProcessByName("linksetprobe", &id));
    EXPECT_FALSE(FindProcessByName(nullptr, &id));
    EXPECT_EQ(id, kUntouched);
}

TEST(FindProcessByNameChild, FindsNothingOnNT4) {
    const std::string name = ChildArgument();
    if (name.empty()) GTEST_SKIP() << "runs only as a child";
    ASSERT_TRUE(IsWindowsNT());
    ASSERT_FALSE(IsWindows2000OrLater());
    DWORD id = kUntouched;
    EXPECT_FALSE(FindProcessByName(name.c_str(), &id));
    EXPECT_EQ(id, kUntouched);
}

TEST(FindProcessByName, AnswersFalseOnNT4WhateverRuns) {
    ProbeProcess probe("LinkSetProbe.EXE");
    ASSERT_TRUE(probe.Running());
    DWORD id = 0;
    ASSERT_TRUE(FindProcessByName("LinkSetProbe.exe", &id));

    const ChildRun run = RunAsWindowsVersion("nt40", "FindProcessByNameChild.*", "LinkSetProbe.exe");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
}

TEST(IsExecutableNamed, ComparesOnlyTheBaseName) {
    EXPECT_TRUE(IsExecutableNamed("C:\\Program Files\\Client\\VPNCLIENT.EXE", "vpnclient.exe"));
    EXPECT_TRUE(IsExecutableNamed("vpnclient.exe", "VpnClient.Exe"));
    EXPECT_FALSE(IsExecutableNamed("C:\\Client\\vpnclient.exe", "Client\\vpnclient.exe"));
    EXPECT_FALSE(IsExecutableNamed("C:\\vpnclient.exe\\other.exe", "vpnclient.exe"));
    EXPECT_FALSE(IsExecutableNamed("myvpnclient.exe", "vpnclient.exe"));
}

// --- bounded copy ---------------------------------------------------------------------------

constexpr std::size_t kNameBuffer = 32;
constexpr char kFill = '#';

struct Copy {
    std::string text;
    std::size_t result;
};

Copy CopyInto32(const char* source) {
    char buffer[kNameBuffer + 1];
    std::memset(buffer, kFill, sizeof buffer);
    const std::size_t result = CopyStringBounded(buffer, source, kNameBuffer);
    EXPECT_EQ(buffer[kNameBuffer], kFill) << "wrote past the buffer";
    return {buffer, result};
}

TEST(CopyStringBounded, CopiesWhatFitsAndAnswersTheSourceLength) {
    const std::string forty(40, 'x');
    const Copy cut = CopyInto32(forty.c_str());
    EXPECT_EQ(cut.text, std::string(31, 'x'));
    EXPECT_EQ(cut.result, 40u);

    const std::string fits(31, 'y');
    EXPECT_EQ(CopyInto32(fits.c_str()).text, fits);
    EXPECT_EQ(CopyInto32(fits.c_str()).result, 31u);

    EXPECT_EQ(CopyInto32("").text, "");
    EXPECT_EQ(CopyInto32("").result, 0u);
    EXPECT_EQ(CopyInto32(nullptr).text, "");
    EXPECT_EQ(CopyInto32(nullptr).result, 0u);

    char untouched[] = "keep";
    EXPECT_EQ(CopyStringBounded(untouched, "other", 0), 0u);
    EXPECT_EQ(CopyStringBounded(nullptr, "other", kNameBuffer), 0u);
    EXPECT_STREQ(untouched, "keep");
}

// Shift-JIS HIRAGANA LETTER A: a lead byte and a trail byte.
constexpr char kDoubleByte[] = "\x82\xA0";

// 30 single bytes, then a double-byte character whose second byte would be the 32nd.
std::string SecondByteWouldBeThe32nd() { return std::string(30, 'a') + kDoubleByte + "z"; }

TEST(CopyStringBounded, TakesEveryByteAsOneCharacterInASingleByteCodePage) {
    if (IsDBCSLeadByte(static_cast<BYTE>(kDoubleByte[0]))) GTEST_SKIP() << "the code page is double-byte";
    EXPECT_EQ(CopyInto32(SecondByteWouldBeThe32nd().c_str()).text, std::string(30, 'a') + kDoubleByte[0]);
}

// Runs only under Wine's Japanese locale (a CTest entry of its own sets it): the code page's
// double-byte characters are never split.
TEST(CopyStringBoundedJapanese, NeverSplitsADoubleByteCharacter) {
    char wanted[16] = {};
    GetEnvironmentVariableA("LINKSET_TEST_CODEPAGE", wanted, sizeof wanted);
    if (wanted[0] == '\0') GTEST_SKIP() << "runs only under the Japanese locale";
    ASSERT_EQ(std::to_string(GetACP()), wanted) << "Wine did not take the Japanese locale";

    const std::string edge = SecondByteWouldBeThe32nd();
    const Copy cut = CopyInto32(edge.c_str());
    EXPECT_EQ(cut.text, std::string(30, 'a'));
    EXPECT_EQ(cut.result, edge.size());

    const std::string fits = std::string(29, 'a') + kDoubleByte;
    EXPECT_EQ(CopyInto32(fits.c_str()).text, fits);

    std::string forty;
    for (int i = 0; i < 20; ++i) forty += kDoubleByte;
    const Copy wide = CopyInto32(forty.c_str());
    EXPECT_EQ(wide.text, forty.substr(0, 30));
    EXPECT_EQ(wide.result, 40u);
}

}  // namespace
