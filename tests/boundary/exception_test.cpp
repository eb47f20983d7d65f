// What the exception's fields and report hold, and its Delete through slot 1, are checked
// through the DLL: by the reference host and by the manager's failed ticks.
#include <gtest/gtest.h>

#include <atomic>

#include "boundary/exception.h"
#include "boundary/outputstr.h"
#include "import_patch.h"

namespace {

std::atomic<int> g_frees{0};
void(__cdecl* g_realFree)(void*) = nullptr;
void __cdecl CountingFree(void* block) {
    if (block != nullptr) ++g_frees;
    g_realFree(block);
}

TEST(QndException, DeleteFreesItsThreeTextsAndItself) {
    CQndException* e = CreateQndException(outputstr("reason"), "file", 1);
    ASSERT_NE(e, nullptr);
    g_frees = 0;
    {
        ImportPatch countFrees(ThisExecutable(), "msvcrt.dll", "free", &CountingFree, &g_realFree);
        e->Delete();
    }
    EXPECT_EQ(g_frees, 4);
}

}  // namespace
