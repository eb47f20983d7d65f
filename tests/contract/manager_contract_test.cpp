// Managers of a GCC-built host through the real LinkSet.dll.
#include <gtest/gtest.h>
#include <linkset/linkset.h>

#include <memory>
#include <vector>

#include <windows.h>

namespace {

// Two managers half a tick apart share the process's tick count; each must still get its adapter passes.
TEST(ManagerContract, ManagersAliveTogetherEachGetTheirAdapterPasses) {
    std::vector<std::unique_ptr<ILinkSetManager, void (*)(ILinkSetManager*)>> managers;
    for (int i = 0; i < 2; ++i) {
        managers.emplace_back(LsCreateLinkSetManager(), &LsDeleteLinkSetManager);
        ASSERT_TRUE(managers.back());
        Sleep(250);
    }
    const auto passed = [&] {
        return managers[0]->GetChangeCount() > 0 && managers[1]->GetChangeCount() > 0;
    };
    for (DWORD waited = 0; waited < 20000 && !passed(); waited += 100) Sleep(100);  // ten ticks each, and room
    EXPECT_GT(managers[0]->GetChangeCount(), 0u);
    EXPECT_GT(managers[1]->GetChangeCount(), 0u);
}

}  // namespace
