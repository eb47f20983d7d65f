// Bad input at the boundary, through the real DLL: buffers of every size class between guard
// pages, null outputs, every plug-in kind and the extremes, logs that say no or come and go
// while lines are written. Each gets its documented answer, and nothing is written outside the
// caller's buffer (a write there faults on a guard page).
#include <gtest/gtest.h>
#include <linkset/linkset.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <string>
#include <vector>

#include "recording_log.h"
#include "test_threads.h"

namespace {

constexpr size_t kPage = 4096;

// `bytes` of writable memory with inaccessible pages right before and right after it.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t bytes) {
        const size_t usable = (bytes + kPage - 1) / kPage * kPage;
        m_base = static_cast<char*>(VirtualAlloc(nullptr, usable + 2 * kPage, MEM_RESERVE, PAGE_NOACCESS));
        if (usable != 0) VirtualAlloc(m_base + kPage, usable, MEM_COMMIT, PAGE_READWRITE);
        m_start = m_base + kPage + usable - bytes;  // ends where the guard page begins
    }
    ~GuardedBuffer() { VirtualFree(m_base, 0, MEM_RELEASE); }
    template <class T> T* As() const { return reinterpret_cast<T*>(m_start); }

private:
    char* m_base;
    char* m_start;
};

class BadInput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(manager = LsCreateLinkSetManager(), nullptr); }
    void TearDown() override { LsDeleteLinkSetManager(manager); }
    ILinkSetManager* manager = nullptr;
};

TEST_F(BadInput, BuffersOfEverySizeGetTheirAnswerAndNothingBeyond) {
    for (int waited = 0; waited < 15000 && manager->GetChangeCount() == 0; waited += 50) Sleep(50);
    uint32_t copied = 0, total = 0;
    ASSERT_EQ(manager->GetPorts(nullptr, 0, &copied, &total, PORT_FILTER_ALL), LS_OK);
    const uint32_t record = sizeof(PORT_INFO);
    for (const uint32_t bytes : {0u, 1u, record - 1, record, record + 3, total * record, total * record + 1, 64 * record}) {
        SCOPED_TRACE(bytes);
        const GuardedBuffer buffer(bytes);
        EXPECT_EQ(manager->GetPorts(buffer.As<PORT_INFO>(), bytes, &copied, &total, PORT_FILTER_ALL), LS_OK);
        EXPECT_EQ(copied, std::min(total, bytes / record));
        for (auto query : {&ILinkSetManager::GetGateways, &ILinkSetManager::GetDnsServers, &ILinkSetManager::GetWinsServers}) {
            uint32_t count = 0;
            const int32_t result = (manager->*query)(buffer.As<uint32_t>(), bytes, &count);
            EXPECT_EQ(result, bytes / 4 >= count ? LS_OK : LS_ERROR_BUFFER_TOO_SMALL);
            EXPECT_EQ((manager->*query)(buffer.As<uint32_t>(), bytes, nullptr), result);  // no count wanted
        }
    }
    EXPECT_EQ(manager->GetPorts(nullptr, 0, nullptr, nullptr, INT_MIN), LS_ERROR_FAILED);
}

TEST_F(BadInput, EveryPlugInKindAndTheExtremesGetTheirAnswer) {
    uint32_t status = 7, count = 0, needed = 0;
    EXPECT_EQ(manager->CheckVPNStatus(PLUGIN_ALL, nullptr), LS_ERROR_FAILED);  // closed
    ASSERT_EQ(manager->OpenVPNDetector(INT_MIN), LS_OK);  // any non-zero opens
    std::vector<int64_t> kinds = {INT_MIN, INT_MAX};
    for (int kind = -1; kind <= 300; ++kind) kinds.push_back(kind);
    for (const int64_t kind : kinds) {
        const auto type = static_cast<EPLUGINTYPE>(kind);
        QsNetInstallVPNDetectorPlugIn(type);
        QsNetUninstallVPNDetectorPlugIn(type);
        const int32_t result = manager->CheckVPNStatus(type, &status);
        const bool known = kind >= PLUGIN_CISCO3000 && kind <= PLUGIN_ALL;
        EXPECT_TRUE(known ? result == LS_OK || result == LS_ERROR_NO_PLUGIN : result == LS_ERROR_NO_PLUGIN) << kind;
        EXPECT_LE(status, 1u) << kind;
    }
    EXPECT_EQ(manager->CheckVPNStatus(PLUGIN_ALL, nullptr), LS_ERROR_FAILED);
    EXPECT_EQ(manager->GetVPNDetectionResult(nullptr, 0, nullptr, &needed), LS_ERROR_FAILED);
    EXPECT_EQ(manager->GetVPNDetectionResult(nullptr, 0, &count, nullptr), LS_ERROR_FAILED);
    for (const uint32_t capacity : {0u, 1u, 8u, UINT_MAX}) {
        const GuardedBuffer types(3);  // room for no whole kind
        count = capacity;
        EXPECT_EQ(manager->GetVPNDetectionResult(types.As<uint32_t>(), 3, &count, &needed), LS_OK);
        EXPECT_EQ(count, 0u);  // whatever is connected, three bytes hold no kind
    }
    // Both delete exports are one function, as the export table has it.
    const HMODULE dll = GetModuleHandleA("LinkSet.dll");
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(4)), GetProcAddress(dll, MAKEINTRESOURCEA(5)));
    const std::string huge(1 << 20, 'x');
    for (const char* text : {static_cast<const char*>(nullptr), "", huge.c_str()}) {
        ILinkSetManagerInstaller* installer = LsCreateLinkSetManagerInstaller(text, text);
        ASSERT_NE(installer, nullptr);
        EXPECT_EQ(installer->PerformInstall(), 1);
        LsDeleteLinkSetManagerInstaller(installer);
    }
}

// Lines written on host threads while another swaps the log, removes it, and installs one that
// says no: every line reaches an installed, willing log whole, or none at all.
TEST_F(BadInput, LogsThatSayNoOrComeAndGoWhileLinesAreWritten) {
    static RecordingDebugLog willing, unwilling;
    unwilling.enabled = false;
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::vector<TestThread> writers;
    for (int i = 0; i < 3; ++i)
        writers.emplace_back([&] {
            uint32_t status = 0;
            for (; !stop; ++calls) manager->CheckVPNStatus(PLUGIN_ALL, &status);  // closed: one line each
        });
    IDebugLog* const logs[] = {&willing, &unwilling, nullptr};
    for (int swap = 0; calls < 3000 || swap < 3000; ++swap) {
        LsSetDebugOutput(logs[swap % 3]);
        Sleep(0);
    }
    stop = true;
    writers.clear();
    LsSetDebugOutput(nullptr);
    EXPECT_FALSE(willing.Lines().empty());
    for (const std::string& line : willing.Lines())
        EXPECT_EQ(line, "<LinkSetMgr>: LINKSET(ERROR): failed to check VPN status if it is not initialized.\n");
    EXPECT_TRUE(unwilling.Lines().empty());
}

}  // namespace
