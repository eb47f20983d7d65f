// Bad input through the real DLL. (The installer's null and huge texts: reference_host.)
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <climits>

#include "recording_log.h"  // and <windows.h>, <atomic>, <string>, <vector>, test threads

namespace {

// `bytes` of writable memory between inaccessible pages: a write beyond them faults.
struct GuardedBuffer {
    explicit GuardedBuffer(size_t bytes) : usable((bytes + 4095) / 4096 * 4096) {
        base = static_cast<char*>(VirtualAlloc(nullptr, usable + 2 * 4096, MEM_RESERVE, PAGE_NOACCESS));
        if (usable != 0) VirtualAlloc(base + 4096, usable, MEM_COMMIT, PAGE_READWRITE);
        start = base + 4096 + usable - bytes;
    }
    GuardedBuffer(const GuardedBuffer&) = delete;
    ~GuardedBuffer() { VirtualFree(base, 0, MEM_RELEASE); }
    template <class T> T* As() const { return reinterpret_cast<T*>(start); }
    const size_t usable;
    char *base, *start;
};

struct BadInput : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(manager); }
    const std::unique_ptr<ILinkSetManager, void (*)(ILinkSetManager*)> manager{LsCreateLinkSetManager(), &LsDeleteLinkSetManager};
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
            const int32_t result = (manager.get()->*query)(buffer.As<uint32_t>(), bytes, &count);
            EXPECT_EQ(result, bytes / 4 >= count ? LS_OK : LS_ERROR_BUFFER_TOO_SMALL);
            EXPECT_EQ((manager.get()->*query)(buffer.As<uint32_t>(), bytes, nullptr), result);  // no count wanted
        }
    }
}

TEST_F(BadInput, EveryPlugInKindAndTheExtremesGetTheirAnswer) {
    uint32_t status = 7, count = 0, needed = 0;
    ASSERT_EQ(manager->OpenVPNDetector(INT_MIN), LS_OK);  // any non-zero opens
    std::vector<int64_t> kinds = {INT_MIN, INT_MAX};
    for (int kind = -1; kind <= 300; ++kind) kinds.push_back(kind);
    for (const int64_t kind : kinds) {
        const auto type = static_cast<EPLUGINTYPE>(kind);
        QsNetInstallVPNDetectorPlugIn(type);
        QsNetUninstallVPNDetectorPlugIn(type);
        const int32_t result = manager->CheckVPNStatus(type, &status);
        const bool known = kind >= PLUGIN_CISCO3000 && kind <= PLUGIN_ALL;
        EXPECT_TRUE(result == LS_ERROR_NO_PLUGIN || (known && result == LS_OK)) << kind;
        EXPECT_LE(status, 1u) << kind;
    }
    EXPECT_EQ(manager->CheckVPNStatus(PLUGIN_ALL, nullptr), LS_ERROR_FAILED);
    EXPECT_EQ(manager->GetVPNDetectionResult(nullptr, 0, nullptr, &needed), LS_ERROR_FAILED);
    EXPECT_EQ(manager->GetVPNDetectionResult(nullptr, 0, &count, nullptr), LS_ERROR_FAILED);
    const GuardedBuffer types(3);  // room for no whole kind, whatever the count says
    count = UINT_MAX;
    EXPECT_EQ(manager->GetVPNDetectionResult(types.As<uint32_t>(), 3, &count, &needed), LS_OK);
    EXPECT_EQ(count, 0u);
    const HMODULE dll = GetModuleHandleA("LinkSet.dll");  // both delete exports are one function
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(4)), GetProcAddress(dll, MAKEINTRESOURCEA(5)));
}

// While host threads write lines and the log is swapped for one that says no or none, lines arrive whole or not at all.
TEST_F(BadInput, LogsThatSayNoOrComeAndGoWhileLinesAreWritten) {
    static RecordingDebugLog willing, unwilling;
    unwilling.enabled = false;
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::vector<TestThread> writers;
    for (int i = 0; i < 3; ++i)  // closed detection: a line each call
        writers.emplace_back([&] { for (uint32_t status = 0; !stop; ++calls) manager->CheckVPNStatus(PLUGIN_ALL, &status); });
    IDebugLog* const logs[] = {&willing, &unwilling, nullptr};
    for (int swap = 0; calls < 3000 || swap < 3000; ++swap, Sleep(0)) LsSetDebugOutput(logs[swap % 3]);
    stop = true;
    writers.clear();
    LsSetDebugOutput(nullptr);
    EXPECT_FALSE(willing.Lines().empty());
    for (const std::string& line : willing.Lines())
        EXPECT_EQ(line, "<LinkSetMgr>: LINKSET(ERROR): failed to check VPN status if it is not initialized.\n");
    EXPECT_TRUE(unwilling.Lines().empty());
}

}  // namespace
